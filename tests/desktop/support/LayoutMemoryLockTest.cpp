#include "tests/desktop/support/LayoutMemoryLockTest.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <iterator>
#include <sstream>
#include <thread>

#include "TesvanoKit/Rules/LockConfiguration.h"
#include "tests/support/TempDir.h"

namespace tesvano::test {

namespace {

using namespace std::chrono_literals;
using JSON = JSONLineProcess::JSON;

struct StandIn {
    const char* appID;
    const char* wmClass;
    std::optional<const char*> lockedSource;  // none: ignored
    unsigned group;                           // the layout expected while it is in front
};

constexpr StandIn kApps[] = {
    {"org.example.Alpha", "alpha", "xkb:de", 1},
    {"org.example.Beta", "beta", "xkb:us", 0},
    {"org.example.Gamma", "gamma", std::nullopt, 2},
};
constexpr std::size_t kAlpha = 0;
constexpr std::size_t kGamma = 2;
constexpr int kRounds = 5;
// Past the engine's verification of a switch (0.32 s), so that a late revert would show.
constexpr auto kSettle = 600ms;

std::string summaries(const std::vector<JSON>& events) {
    std::string out;
    for (const auto& e : events) {
        out += (out.empty() ? "" : "; ") + summary(e);
    }
    return out.empty() ? "(none)" : out;
}

LockConfiguration rules() {
    LockConfiguration configuration;
    configuration.isEnabled = true;
    for (const auto& app : kApps) {
        configuration.appRules.push_back(
            app.lockedSource
                ? AppRule{app.appID, AppRuleMode::locked, InputSourceID(*app.lockedSource)}
                : AppRule{app.appID, AppRuleMode::ignored, InputSourceID("xkb:us")});
    }
    return configuration;
}

}  // namespace

void LayoutMemoryLockTest::SetUp() {
    if (auto missing = programsInstalled(requiredPrograms()); !missing) {
        GTEST_SKIP() << missing.error();
    }
    auto started = PrivateSession::start({.environment = sessionEnvironment(), .systemBus = true});
    ASSERT_TRUE(started.has_value()) << started.error();
    session = std::move(*started);
    const auto desktop = startDesktop(*session);
    ASSERT_TRUE(desktop.has_value()) << desktop.error();
    auto opened = DesktopWindows::open(session->display());
    ASSERT_TRUE(opened.has_value()) << opened.error();
    windows = std::move(*opened);
    auto watcher = TestDesktop::open(session->display());
    ASSERT_TRUE(watcher.has_value()) << watcher.error();
    groups = std::move(*watcher);
    groups->onGroupChange = [this](unsigned) { ++switches_; };

    for (std::size_t i = 0; i < std::size(kApps); ++i) {
        writeFile(session->dataHome() / "applications" / (kApps[i].appID + std::string(".desktop")),
                  std::string("[Desktop Entry]\nType=Application\nName=") + kApps[i].wmClass +
                      "\nExec=" + kApps[i].wmClass + "\nStartupWMClass=" + kApps[i].wmClass + "\n");
        ASSERT_GT(processes_[i].pid(), 0);
        windowIDs_[i] = windows->addWindow(kApps[i].wmClass, processes_[i].pid());
    }
    ASSERT_TRUE(windows->waitForManaged({windowIDs_[0], windowIDs_[1], windowIDs_[2]}, 20s));
    windowsReady();
    if (HasFatalFailure()) {
        return;
    }
    primeLayouts();
    if (HasFatalFailure()) {
        return;
    }
    startEngine();
}

void LayoutMemoryLockTest::TearDown() {
    engine.reset();
    groups.reset();
    windows.reset();
    session.reset();
}

bool LayoutMemoryLockTest::waitForGroup(unsigned group, std::chrono::milliseconds timeout) {
    return groups->waitForLockedGroup(group, timeout);
}

// Gamma's window gets Russian from the desktop's own switcher; Alpha's window, new to the
// desktop's memory, then gets the first layout back: the desktop restores per window. The
// desktop's programs may still be starting, so this is tried for a while.
void LayoutMemoryLockTest::primeLayouts() {
    const auto deadline = std::chrono::steady_clock::now() + 6 * patience;
    auto activate = [this](std::size_t i) {
        windows->requestActivation(windowIDs_[i]);
        const bool active = windows->waitForActive(windowIDs_[i], patience);
        // The desktop hears of the activation after the window manager; let it restore first.
        std::this_thread::sleep_for(500ms);
        return active;
    };
    // Each window has had the focus once: a desktop may file a layout under a window it has
    // not seen focused yet (Cinnamon's keyboard daemon does).
    for (std::size_t i = 0; i < std::size(kApps); ++i) {
        activate(i);
    }
    for (;;) {
        bool ok = activate(kGamma);
        selectAsDesktop(kRU);
        ok = ok && waitForGroup(kRU, patience) && activate(kAlpha) && waitForGroup(kUS, patience) &&
             activate(kGamma) && waitForGroup(kRU, patience) && activate(kAlpha) &&
             waitForGroup(kUS, patience);
        if (ok) {
            return;
        }
        ASSERT_LT(std::chrono::steady_clock::now(), deadline)
            << desktopName() << " does not restore a layout per window (group "
            << groups->lockedGroup().value_or(99) << ")";
    }
}

// The engine starts with Alpha in front and English current: its first line is German.
void LayoutMemoryLockTest::startEngine() {
    const auto path = session->home() / "rules.json";
    auto configuration = rules();
    std::ranges::copy(extraRules(), std::back_inserter(configuration.appRules));
    writeFile(path, encodeConfiguration(configuration));
    std::vector<std::string> argv = {TESVANO_ENGINE_PATH, "--display", session->display(),
                                     path.string()};
    if (readsAccessibility()) {
        argv.insert(argv.end() - 1, "--accessibility");
    }
    auto started = JSONLineProcess::start(
        argv,
        session->environment({"XDG_DATA_DIRS=" + (session->home() / "no-system-data").string()}));
    ASSERT_TRUE(started.has_value()) << started.error();
    engine = std::move(*started);
    const auto first = engine->nextLine(2 * patience);
    ASSERT_TRUE(first.has_value()) << "the engine did not put Alpha's rule in force";
    ASSERT_EQ(summary(first), "xkb:de startupApplied org.example.Alpha appRule");
    ASSERT_TRUE(waitForGroup(kDE, patience));
    // Let the desktop record it for Alpha's window before anything else happens.
    engine->linesWithin(kSettle);
}

void LayoutMemoryLockTest::runActivations() {
    // Each activation: the window's layout current (the rule's, or for the ignored window the
    // one the desktop remembered), one change of the layout, nothing reverted, the desktop's
    // own record agreeing.
    int held[std::size(kApps)] = {};
    std::ostringstream perActivation;
    constexpr std::size_t kOrder[] = {1, 2, 0};  // Alpha is in front at the start
    for (int round = 1; round <= kRounds; ++round) {
        for (const std::size_t i : kOrder) {
            const auto& app = kApps[i];
            SCOPED_TRACE(std::string(app.appID) + " round " + std::to_string(round));
            groups->pump();
            const int before = switches_;
            windows->requestActivation(windowIDs_[i]);
            EXPECT_TRUE(windows->waitForActive(windowIDs_[i], patience));
            const bool current = waitForGroup(app.group, patience);
            const auto events = engine->linesWithin(kSettle);
            groups->pump();
            const int switches = switches_ - before;
            perActivation << switches;
            EXPECT_TRUE(current) << "layout " << groups->lockedGroup().value_or(99);
            EXPECT_EQ(switches, 1);
            bool quiet = true;
            for (const auto& event : events) {
                quiet = quiet && field(event, "reason") == "appActivated" &&
                        field(event, "triggeringBundleID") == app.appID;
            }
            if (!app.lockedSource) {
                quiet = quiet && events.empty();  // nothing selected for an ignored window
            }
            EXPECT_TRUE(quiet) << summaries(events);
            const auto own = desktopLayout();
            const bool agrees = !own || *own == app.group;
            EXPECT_TRUE(agrees) << desktopName() << " says " << own.value_or(99);
            held[i] += current && switches == 1 && quiet && agrees;
        }
    }
    for (std::size_t i = 0; i < std::size(kApps); ++i) {
        std::cout << "[ " << desktopName() << " ] " << kApps[i].appID
                  << (kApps[i].lockedSource ? ": lock held " : ": kept its layout ") << held[i]
                  << " of " << kRounds << "\n";
        EXPECT_EQ(held[i], kRounds) << kApps[i].appID;
    }
    std::cout << "[ " << desktopName() << " ] switches per activation: " << perActivation.str()
              << "\n";

    // Alpha is in front with German locked: the desktop's own shortcut switches, the lock
    // puts German back, and the desktop's record follows.
    groups->pump();
    const int before = switches_;
    windows->pressChord(switchShortcut());
    const auto reverted = engine->nextLine(patience);
    ASSERT_TRUE(reverted.has_value()) << "the shortcut was not reverted";
    EXPECT_EQ(summary(reverted), "xkb:de revertedSwitch org.example.Alpha appRule");
    EXPECT_TRUE(waitForGroup(kDE, patience));
    EXPECT_TRUE(engine->linesWithin(kSettle).empty());
    groups->pump();
    EXPECT_EQ(switches_ - before, 2) << "the desktop's switch and the revert";
    if (const auto own = desktopLayout()) {
        EXPECT_EQ(*own, kDE);
    }
    EXPECT_EQ(engine->stop(), 0);
}

}  // namespace tesvano::test
