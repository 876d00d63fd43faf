// The lock under GNOME Shell 43 in X11 mode keeping a source per window, through our shell
// extension: the shell restores each window's source on activation, Tesvano selects through
// the shell so that what the shell remembers agrees with the rules.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/desktop/gnome/GnomeShellSession.h"
#include "tests/desktop/support/LayoutMemoryLockTest.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;

constexpr const char* kLayouts[] = {"us", "de", "ru"};

class GnomeShellPerWindowTest : public test::LayoutMemoryLockTest {
protected:
    // The shell renders in software: on a loaded machine it is slow to do anything.
    GnomeShellPerWindowTest() { patience = 15s; }

    std::vector<std::string> requiredPrograms() const override {
        return {"gnome-shell", "gsettings", "gdbus", "dbus-daemon", "Xvfb"};
    }
    std::vector<std::string> sessionEnvironment() const override { return test::gnomeEnvironment; }
    std::expected<void, std::string> startDesktop(test::PrivateSession& s) override {
        return test::startGnomeShell(s, {std::begin(kLayouts), std::end(kLayouts)}, true);
    }
    // The shell starts in its overview, where no window is in front.
    void windowsReady() override {
        ASSERT_TRUE(test::leaveGnomeShellOverview(
            *session, [this] { windows->pressChord({"Escape"}); }, 4 * patience));
    }
    // Through the shell, as its input-source menu does.
    void selectAsDesktop(unsigned group) override {
        test::gnomeShellActivate(*session, "xkb", kLayouts[group]);
    }
    // The shell's current source as a layout index; 99 when the shell does not answer.
    std::optional<unsigned> desktopLayout() override {
        const auto current = test::gnomeShellCurrent(*session);
        for (unsigned i = 0; current && i < std::size(kLayouts); ++i) {
            if (*current == std::string("xkb:") + kLayouts[i]) {
                return i;
            }
        }
        return 99;
    }
    std::vector<std::string> switchShortcut() const override { return {"Super_L", "space"}; }
    const char* desktopName() const override { return "GNOME"; }
};

TEST_F(GnomeShellPerWindowTest, LockHoldsAndTheShellAgrees) {
    runActivations();
}

}  // namespace
}  // namespace tesvano
