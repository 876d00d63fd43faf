#pragma once

#include <gtest/gtest.h>

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TesvanoKit/Rules/LockConfiguration.h"
#include "tests/desktop/support/DesktopWindows.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/TestDesktop.h"

namespace tesvano::test {

// The lock under a desktop that remembers a keyboard layout per window (KDE's keyboard
// daemon, Xfce's layout plugin, GNOME Shell with sources per window): three stand-in
// applications, Alpha locked to German, Beta locked to English and Gamma ignored, whose window
// the desktop remembers with Russian. Each desktop's test starts its programs; this fixture
// makes the windows, runs the engine tool and checks five activations of each window and the
// desktop's own switch shortcut.
class LayoutMemoryLockTest : public ::testing::Test {
protected:
    static constexpr unsigned kUS = 0;
    static constexpr unsigned kDE = 1;
    static constexpr unsigned kRU = 2;

    // The programs the desktop needs; the test is skipped without them.
    virtual std::vector<std::string> requiredPrograms() const = 0;
    // Added to the session's environment (XDG_CURRENT_DESKTOP and the like).
    virtual std::vector<std::string> sessionEnvironment() const = 0;
    // Starts the desktop's programs with the layouts us, de and ru remembered per window.
    virtual std::expected<void, std::string> startDesktop(PrivateSession& session) = 0;
    // Selects a layout the way the desktop's own switcher does.
    virtual void selectAsDesktop(unsigned group) { groups->lockGroup(group); }
    // The desktop's own record of the current layout, when it keeps one.
    virtual std::optional<unsigned> desktopLayout() { return std::nullopt; }
    // The desktop's own shortcut to the next layout, as key symbols.
    virtual std::vector<std::string> switchShortcut() const = 0;
    virtual const char* desktopName() const = 0;
    // Called once the windows are managed, before anything is activated.
    virtual void windowsReady() {}
    // Rules beside the stand-ins' own, and whether the engine reads the accessibility bus.
    virtual std::vector<AppRule> extraRules() const { return {}; }
    virtual bool readsAccessibility() const { return false; }

    void SetUp() override;
    void TearDown() override;
    // The five rounds and the shortcut; prints the switches per activation and the holds.
    void runActivations();

    std::unique_ptr<PrivateSession> session;
    std::unique_ptr<DesktopWindows> windows;
    // Follows the locked group (and locks one, as a plain switcher would).
    std::unique_ptr<TestDesktop> groups;
    std::unique_ptr<JSONLineProcess> engine;
    // How long the desktop may take to activate a window or change the layout.
    std::chrono::milliseconds patience{std::chrono::seconds(5)};

private:
    void primeLayouts();
    void startEngine();
    bool waitForGroup(unsigned group, std::chrono::milliseconds timeout);

    StandInProcess processes_[3];
    unsigned long windowIDs_[3] = {};
    int switches_ = 0;
};

}  // namespace tesvano::test
