// The tray icon on Xfce 4.18's panel, light and in dark mode: the program itself runs, its item
// shown by the panel's notification-area plugin (the StatusNotifier host, whose XEmbed tray
// says its foreground in _NET_SYSTEM_TRAY_COLORS), and the panel's pixels are read where it
// draws the icon. A padlock in the palette's black vanished on the dark panel.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/desktop/support/PanelInk.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace tesvano {
namespace {

#ifdef TESVANO_PROGRAM

using namespace std::chrono_literals;

constexpr int kPanelHeight = 26;

std::string panelChannel(bool dark) {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value=")") +
           (dark ? "true" : "false") + R"("/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)";
}

TEST(XfceTray, TheIconStandsOutOnTheLightAndTheDarkPanel) {
    if (auto missing = test::programsInstalled({"xfce4-panel", "xfwm4", "dbus-daemon", "Xvfb"});
        !missing) {
        GTEST_SKIP() << missing.error();
    }
    for (const bool dark : {true, false}) {
        SCOPED_TRACE(dark ? "dark panel" : "light panel");
        auto started = test::PrivateSession::start({.environment = {"XDG_CURRENT_DESKTOP=XFCE"}});
        ASSERT_TRUE(started.has_value()) << started.error();
        auto& session = **started;
        test::writeFile(session.configHome() / "xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml",
                        panelChannel(dark));
        ASSERT_TRUE(session.startWindowManager({"xfwm4", "--compositor=off"}, 20s).has_value());
        ASSERT_TRUE(session.launch({"xfce4-panel"}).has_value());
        const auto watcher = [&session] {
            return session
                .output({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                         "--object-path", "/org/freedesktop/DBus", "--method",
                         "org.freedesktop.DBus.NameHasOwner", "org.kde.StatusNotifierWatcher"})
                .value_or("");
        };
        ASSERT_TRUE(test::waitUntil(
            test::every(200ms), [&] { return watcher().find("true") != std::string::npos; }, 30s));
        // The panel as it is before the icon comes, its own handles included; then what changed.
        std::optional<test::PanelInk> empty;
        ASSERT_TRUE(test::waitUntil(
            test::every(200ms),
            [&] {
                empty = test::panelInk(session.display(), 0, 0, 1280, kPanelHeight);
                return empty && empty->backgroundLuminance > 0 && empty->inked > 0;
            },
            30s))
            << "no panel";
        const auto strip = [&] {
            return test::panelInk(session.display(), 0, 0, 1280, kPanelHeight, &*empty);
        };
        ASSERT_TRUE(session.launch({"env", "QT_QPA_PLATFORM=xcb", TESVANO_PROGRAM}).has_value());
        std::optional<test::PanelInk> shown;
        EXPECT_TRUE(test::waitUntil(
            test::every(200ms),
            [&] {
                shown = strip();
                return shown && shown->inked >= 30;
            },
            30s))
            << "no icon on the panel";
        ASSERT_TRUE(shown.has_value());
        std::printf("Xfce %s panel %s: icon %s over %d px, contrast %.1f:1\n",
                    dark ? "dark" : "light", shown->background.c_str(), shown->ink.c_str(),
                    shown->inked, shown->contrast());
        EXPECT_GE(shown->contrast(), 3.0) << shown->ink << " on " << shown->background;
        EXPECT_EQ(shown->inkLuminance > shown->backgroundLuminance, dark)
            << shown->ink << " on " << shown->background;
        session.stopPrograms();
    }
}

#endif

}  // namespace
}  // namespace tesvano
