// The tray icon under GNOME Shell 43 with the AppIndicator extension as the host: the program
// itself runs, and the shell is asked (through its Eval, opened by a helper extension of the
// test) whether the host's actor for the item shows an icon, before and after the icon changes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/desktop/gnome/GnomeShellSession.h"
#include "tests/support/Wait.h"

namespace tesvano {
namespace {

// The program itself is part of the Qt build only.
#ifdef TESVANO_PROGRAM

using namespace std::chrono_literals;

constexpr const char* kHost = "ubuntu-appindicators@ubuntu.com";

// "visible shown width accessible-name" of each of the host's actors, as the shell has them.
std::string hostActors(const test::PrivateSession& session) {
    return session
        .output({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                 "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval",
                 "const a = imports.ui.main.panel.statusArea; Object.keys(a)"
                 ".filter(k => k.startsWith('appindicator-')).map(k => [a[k].visible, "
                 "a[k]._icon.mapped && a[k]._icon.gicon !== null, a[k]._icon.width, "
                 "a[k].accessible_name].join(' ')).join(';')"})
        .value_or("(no answer)");
}

bool waitFor(const std::function<std::string()>& read, const std::string& text) {
    return test::waitUntil(
        test::every(200ms), [&] { return read().find(text) != std::string::npos; }, 30s);
}

TEST(GnomeShellTray, TheAppIndicatorHostShowsTheIcon) {
    if (auto missing = test::GnomeShellSession::available(); !missing) {
        GTEST_SKIP() << missing.error();
    }
    if (!std::filesystem::exists(std::string("/usr/share/gnome-shell/extensions/") + kHost)) {
        GTEST_SKIP() << "needs gnome-shell-extension-appindicator";
    }
    auto started =
        test::PrivateSession::start({.environment = test::gnomeEnvironment, .systemBus = true});
    ASSERT_TRUE(started.has_value()) << started.error();
    auto& session = **started;
    const auto helper = session.dataHome() / "gnome-shell/extensions/eval@tests";
    test::writeFile(helper / "metadata.json",
                    R"({"uuid": "eval@tests", "name": "Eval", "description": "Eval for tests",
                        "shell-version": ["43"]})");
    test::writeFile(helper / "extension.js",
                    "function init() { return { enable() { global.context.unsafe_mode = true; }, "
                    "disable() {} }; }\n");
    auto shell = test::startGnomeShell(session, {"us"}, false, 60s, {kHost, "eval@tests"});
    ASSERT_TRUE(shell.has_value()) << shell.error();
    // The host registers with its watcher once the shell has enabled the extension.
    const auto host = [&session] {
        return session
            .output({"gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher",
                     "--object-path", "/StatusNotifierWatcher", "--method",
                     "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierWatcher",
                     "IsStatusNotifierHostRegistered"})
            .value_or("");
    };
    ASSERT_TRUE(waitFor(host, "true"));
    test::writeFile(session.home() / ".config/tesvano/settings.json", R"({"apiEnabled": true})");
    // On the session's display, whatever platform the tests' Qt is told to use.
    ASSERT_TRUE(session.launch({"env", "QT_QPA_PLATFORM=xcb", TESVANO_PROGRAM}).has_value());

    const auto actors = [&session] { return hostActors(session); };
    EXPECT_TRUE(waitFor(actors, "true true 16 Tesvano: Disabled")) << actors();
    // A new icon: the host reads the item's properties again.
    ASSERT_TRUE(session.run({"env", "QT_QPA_PLATFORM=xcb", TESVANO_PROGRAM, "tesvano://toggle"}));
    EXPECT_TRUE(waitFor(actors, "true true 16 Tesvano: Enabled")) << actors();
    session.stopPrograms();
}

#endif

}  // namespace
}  // namespace tesvano
