// The lock under Cinnamon 5.6: the shell (muffin) and the settings daemon's keyboard plugin
// keeping a layout per window (group-per-window), which restores a window's layout when the
// focus reaches it, before muffin announces the window as active. Alt+Shift switches.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "tests/desktop/support/LayoutMemoryLockTest.h"
#include "tests/support/XvfbServer.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;

class CinnamonKeyboardDaemonTest : public test::LayoutMemoryLockTest {
protected:
    CinnamonKeyboardDaemonTest() { patience = 10s; }
    std::vector<std::string> requiredPrograms() const override {
        return {"cinnamon", "csd-keyboard", "gsettings", "setxkbmap", "dbus-daemon", "Xvfb"};
    }
    std::vector<std::string> sessionEnvironment() const override {
        return {"XDG_CURRENT_DESKTOP=X-Cinnamon"};
    }
    std::expected<void, std::string> startDesktop(test::DesktopSession& s) override {
        for (const auto& [schema, key, value] : {
                 std::tuple{"keyboard", "layouts", "['us', 'de', 'ru']"},
                 std::tuple{"keyboard", "options", "['grp\tgrp:alt_shift_toggle']"},
                 std::tuple{"desktop", "group-per-window", "true"},
             }) {
            if (!s.run({"gsettings", "set", std::string("org.gnome.libgnomekbd.") + schema, key,
                        value})) {
                return std::unexpected(std::string("gsettings failed: ") + key);
            }
        }
        // The shell renders in software: on a loaded machine it is slow to start.
        if (!s.launch({"cinnamon", "--replace"}) || !test::windowManagerRuns(s.display(), 60s) ||
            !s.launch({"csd-keyboard"})) {
            return std::unexpected("cinnamon or csd-keyboard did not start");
        }
        // The daemon follows the windows once it has put the layouts in force.
        for (int i = 0;
             s.output({"setxkbmap", "-query"}).value_or("").find("us,de,ru") == std::string::npos;
             ++i) {
            if (i == 600) {
                return std::unexpected("csd-keyboard did not put the layouts in force");
            }
            std::this_thread::sleep_for(100ms);
        }
        return {};
    }
    std::vector<std::string> switchShortcut() const override { return {"Alt_L", "Shift_L"}; }
    const char* desktopName() const override { return "Cinnamon"; }
};

TEST_F(CinnamonKeyboardDaemonTest, LockHoldsAndTheIgnoredWindowKeepsItsLayout) {
    runActivations();
}

}  // namespace
}  // namespace tesvano
