// The tray icon under GNOME Shell 43 with the AppIndicator extension as the host: the program
// itself runs, and the shell is asked (through its Eval, opened by a helper extension of the
// test) whether the host's actor for the item shows an icon, before and after the icon changes,
// and what it draws on the panel is compared with the program's own symbol for the state. (The
// helper puts the shell in unsafe mode, whose own indicator is an open padlock with an orange
// badge: that one is not ours.)
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

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

std::string eval(const test::PrivateSession& session, const std::string& script) {
    return session
        .output({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                 "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", script})
        .value_or("(no answer)");
}

// The numbers in an Eval answer such as (true, '"1 0.93 0.41"').
std::vector<double> numbersOf(const std::string& answer) {
    std::vector<double> out;
    const auto open = answer.find("'\"");
    std::istringstream in(open == std::string::npos ? std::string() : answer.substr(open + 2));
    for (double value = 0; in >> value;) {
        out.push_back(value);
    }
    return out;
}

// How the host's icon on the panel matches the program's symbols: a crop of the panel at the
// actor, its bright pixels (the panel's foreground on its dark background) against the pixels
// each symbol covers at the icon's size, both aligned at their top-left corner. Answers the
// bright pixels' count and the overlap (shared ÷ either) with the locked and the unlocked symbol.
std::vector<double> drawnAgainstSymbols(const test::PrivateSession& session,
                                        const std::filesystem::path& crop) {
    const auto where = numbersOf(
        eval(session,
             "const a = imports.ui.main.panel.statusArea; const i = a[Object.keys(a).find(k => "
             "k.startsWith('appindicator-'))]._icon; const [x, y] = i.get_transformed_position(); "
             "const [w, h] = i.get_transformed_size(); [x, y, w, h, i.icon_size].map(Math.round)"
             ".join(' ')"));
    if (where.size() != 5) {
        return {};
    }
    const auto number = [](double value) { return std::to_string(static_cast<int>(value)); };
    // The shell writes no screenshot over an existing file.
    std::filesystem::remove(crop);
    if (!session.run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                      "/org/gnome/Shell/Screenshot", "--method",
                      "org.gnome.Shell.Screenshot.ScreenshotArea", number(where[0]),
                      number(where[1]), number(where[2]), number(where[3]), "false",
                      crop.string()})) {
        return {};
    }
    const std::string icons = TESVANO_TRAY_ICONS_DIR;
    return numbersOf(eval(
        session,
        "const P = imports.gi.GdkPixbuf; const mask = (pb, test) => { const d = pb.get_pixels(), "
        "s = pb.get_rowstride(), n = pb.get_n_channels(), out = []; for (let y = 0; y < "
        "pb.get_height(); y++) for (let x = 0; x < pb.get_width(); x++) if (test(d, y * s + x * "
        "n, n)) out.push([x, y]); return out; }; const norm = pts => { const mx = "
        "Math.min(...pts.map(p => p[0])), my = Math.min(...pts.map(p => p[1])); return new "
        "Set(pts.map(p => `${p[0] - mx},${p[1] - my}`)); }; const overlap = (a, b) => { const "
        "A = norm(a), B = norm(b); let both = 0; A.forEach(p => { if (B.has(p)) both++; }); "
        "return A.size + B.size > both ? both / (A.size + B.size - both) : 0; }; const drawn = "
        "mask(P.Pixbuf.new_from_file('" +
            crop.string() +
            "'), (d, o) => d[o] + d[o + 1] + d[o + 2] > 3 * 128); const symbol = f => "
            "mask(P.Pixbuf.new_from_file_at_size('" +
            icons + "/' + f, " + number(where[4]) + ", " + number(where[4]) +
            "), (d, o, n) => n === 4 && d[o + 3] > 128); [drawn.length, "
            "overlap(drawn, symbol('TrayLocked.svg')), overlap(drawn, "
            "symbol('TrayUnlocked.svg'))].map(v => v.toFixed(2)).join(' ')"));
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
    // What the host draws is the program's symbol for the state, in the panel's foreground (a
    // symbol in the palette's dark ink vanished on the shell's dark panel).
    const auto drawsSymbol = [&session](bool locked) {
        std::vector<double> match;
        const bool drawn = test::waitUntil(
            test::every(200ms),
            [&] {
                match = drawnAgainstSymbols(session, session.home() / "panel-icon.png");
                return match.size() == 3 && match[locked ? 1 : 2] >= 0.8 &&
                       match[locked ? 1 : 2] > match[locked ? 2 : 1] + 0.15;
            },
            30s);
        std::string text;
        for (const double value : match) {
            text += std::to_string(value) + " ";
        }
        return testing::AssertionResult(drawn)
               << "bright pixels, overlap with locked, unlocked: " << text;
    };
    EXPECT_TRUE(waitFor(actors, "true true 16 Tesvano: Disabled")) << actors();
    EXPECT_TRUE(drawsSymbol(false));
    // A new icon: the host reads the item's properties again.
    ASSERT_TRUE(session.run({"env", "QT_QPA_PLATFORM=xcb", TESVANO_PROGRAM, "tesvano://toggle"}));
    EXPECT_TRUE(waitFor(actors, "true true 16 Tesvano: Enabled")) << actors();
    EXPECT_TRUE(drawsSymbol(true));
    session.stopPrograms();
}

#endif

}  // namespace
}  // namespace tesvano
