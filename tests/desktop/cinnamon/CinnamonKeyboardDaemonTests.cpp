// The lock under Cinnamon 5.6: the shell (muffin) and the settings daemon's keyboard plugin
// keeping a layout per window (group-per-window), which restores a window's layout when the
// focus reaches it, before muffin announces the window as active. Alt+Shift switches.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/desktop/support/LayoutMemoryLockTest.h"
#include "tests/support/XvfbServer.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;

class CinnamonKeyboardDaemonTest : public test::LayoutMemoryLockTest {
protected:
    // The shell renders in software: on a loaded machine it is slow to do anything.
    CinnamonKeyboardDaemonTest() { patience = 10s; }

    std::vector<std::string> requiredPrograms() const override {
        return {"cinnamon", "csd-keyboard", "gsettings", "setxkbmap", "dbus-daemon", "Xvfb"};
    }
    std::vector<std::string> sessionEnvironment() const override {
        return {"XDG_CURRENT_DESKTOP=X-Cinnamon", "XDG_SESSION_DESKTOP=cinnamon",
                "DESKTOP_SESSION=cinnamon"};
    }
    std::expected<void, std::string> startDesktop(test::DesktopSession& s) override {
        const std::vector<std::vector<std::string>> settings = {
            {"gsettings", "set", "org.gnome.libgnomekbd.keyboard", "layouts", "['us', 'de', 'ru']"},
            {"gsettings", "set", "org.gnome.libgnomekbd.keyboard", "options",
             "['grp\tgrp:alt_shift_toggle']"},
            {"gsettings", "set", "org.gnome.libgnomekbd.desktop", "group-per-window", "true"},
        };
        for (const auto& argv : settings) {
            if (!s.run(argv)) {
                return std::unexpected("gsettings failed: " + argv[3] + " " + argv[4]);
            }
        }
        if (auto shell = s.launch({"cinnamon", "--replace"}); !shell) {
            return std::unexpected(shell.error());
        }
        if (!test::windowManagerRuns(s.display(), 4 * patience)) {
            return std::unexpected("cinnamon did not start");
        }
        if (auto daemon = s.launch({"csd-keyboard"}); !daemon) {
            return std::unexpected(daemon.error());
        }
        // The daemon follows the windows once it has put the layouts in force; a layout
        // selected before would be kept for a window it had not seen getting the focus.
        const auto deadline = std::chrono::steady_clock::now() + 4 * patience;
        while (s.output({"setxkbmap", "-query"}).value_or("").find("us,de,ru") ==
               std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) {
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
