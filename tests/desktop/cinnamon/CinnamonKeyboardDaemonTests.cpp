// The lock under Cinnamon 5.6: the shell (muffin) and the settings daemon's keyboard plugin
// keeping a layout per window (group-per-window), which restores a window's layout when the
// focus reaches it, before muffin announces the window as active. Alt+Shift switches.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/desktop/support/LayoutMemoryLockTest.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;

class CinnamonKeyboardDaemonTest : public test::LayoutMemoryLockTest {
protected:
    CinnamonKeyboardDaemonTest() { patience = 10s; }
    std::vector<std::string> requiredPrograms() const override {
        return {"cinnamon", "csd-keyboard", "gsettings", "dbus-daemon", "Xvfb"};
    }
    std::vector<std::string> sessionEnvironment() const override {
        return {"XDG_CURRENT_DESKTOP=X-Cinnamon"};
    }
    std::expected<void, std::string> startDesktop(test::PrivateSession& s) override {
        auto set = [&s](const char* schema, const char* key, const char* value) {
            return s.run({"gsettings", "set", schema, key, value});
        };
        if (!set("org.gnome.libgnomekbd.keyboard", "layouts", "['us', 'de', 'ru']") ||
            !set("org.gnome.libgnomekbd.keyboard", "options", "['grp\tgrp:alt_shift_toggle']") ||
            !set("org.gnome.libgnomekbd.desktop", "group-per-window", "true")) {
            return std::unexpected("gsettings failed");
        }
        // The shell renders in software: on a loaded machine it is slow to start.
        if (!s.startWindowManager({"cinnamon", "--replace"}, 60s) || !s.launch({"csd-keyboard"})) {
            return std::unexpected("cinnamon or csd-keyboard did not start");
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
