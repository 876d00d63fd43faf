// The lock under GNOME Shell 43 in X11 mode, through our shell extension: the engine tool with
// a lock rule for each of three stand-in applications, five activations of each, the shell's
// own switch shortcut while a lock holds, bursts of another program's switches from one caller
// and from concurrent ones, and a restart of the shell. Without the extension, with the IBus
// the shell starts: the shell's sources listed, nothing selected or put back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Platform/DBus/SessionBus.h"
#include "Platform/TextInput/GnomeShell/GnomeShellTextInputSources.h"

#include "TesvanoKit/Rules/LockConfiguration.h"
#include "tests/desktop/gnome/GnomeShellSession.h"
#include "tests/desktop/support/DesktopWindows.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;
using JSON = test::JSONLineProcess::JSON;
using test::field;
using test::summary;

struct StandIn {
    const char* appID;
    const char* wmClass;
    const char* source;
};

constexpr StandIn kApps[] = {
    {"org.example.Alpha", "alpha", "xkb:de"},
    {"org.example.Beta", "beta", "xkb:ru"},
    {"org.example.Gamma", "gamma", "xkb:us"},
};
constexpr int kRounds = 5;
// How long the shell may take for anything: it renders in software, and a loaded machine
// slows it down a lot.
constexpr auto kPatience = std::chrono::seconds(15);

LockConfiguration lockRules() {
    LockConfiguration configuration;
    configuration.isEnabled = true;
    configuration.defaultSourceID = InputSourceID("xkb:us");
    configuration.defaultAction = RuleAction::lock;
    for (const auto& app : kApps) {
        configuration.appRules.push_back(
            AppRule{app.appID, AppRuleMode::locked, InputSourceID(app.source)});
    }
    return configuration;
}

class GnomeShellLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto missing = test::GnomeShellSession::available(); !missing) {
            GTEST_SKIP() << missing.error();
        }
        auto started = test::GnomeShellSession::start({"us", "de", "ru"}, ourExtension);
        ASSERT_TRUE(started.has_value()) << started.error();
        gnome = std::move(*started);
        auto& session = gnome->session();
        auto windows = test::DesktopWindows::open(session.display());
        ASSERT_TRUE(windows.has_value()) << windows.error();
        desktop = std::move(*windows);
        // The shell starts in its overview, and takes a while to show it.
        ASSERT_TRUE(test::leaveGnomeShellOverview(
            session, [this] { desktop->pressChord({"Escape"}); }, 4 * kPatience));
        for (std::size_t i = 0; i < std::size(kApps); ++i) {
            test::writeFile(
                session.dataHome() / "applications" / (kApps[i].appID + std::string(".desktop")),
                std::string("[Desktop Entry]\nType=Application\nName=") + kApps[i].wmClass +
                    "\nExec=" + kApps[i].wmClass + "\nStartupWMClass=" + kApps[i].wmClass + "\n");
            ASSERT_GT(processes[i].pid(), 0);
            windowIDs[i] = desktop->addWindow(kApps[i].wmClass, processes[i].pid());
        }
        ASSERT_TRUE(desktop->waitForManaged({windowIDs[0], windowIDs[1], windowIDs[2]}, 20s));
        // The window manager focuses new windows as it gets round to them; Gamma is asked for
        // until it stays in front.
        int steady = 0;
        test::waitUntil(
            test::every(500ms),
            [&] {
                if (desktop->activeWindow() != windowIDs[2]) {
                    steady = 0;
                    desktop->requestActivation(windowIDs[2]);
                } else {
                    ++steady;
                }
                return steady == 4;
            },
            kPatience);
        ASSERT_EQ(desktop->activeWindow(), windowIDs[2]);
    }

    // Starts the engine with German current (Alpha's, and Alpha is not in front), and waits
    // until it has put the rule of the window in front in force.
    void startEngine(const LockConfiguration& rules = lockRules()) {
        ASSERT_TRUE(!ourExtension || gnome->activate("xkb", "de"));
        ASSERT_TRUE(!ourExtension || gnome->waitForCurrent("xkb:de", kPatience));
        auto& session = gnome->session();
        const auto path = session.home() / "rules.json";
        test::writeFile(path, encodeConfiguration(rules));
        std::vector<std::string> argv{TESVANO_ENGINE_PATH, "--display", session.display()};
        argv.insert(argv.end(), engineFlags.begin(), engineFlags.end());
        argv.push_back(path.string());
        logLines.clear();
        auto started = test::JSONLineProcess::start(
            argv,
            session.environment({"XDG_DATA_DIRS=" + (session.home() / "no-system-data").string(),
                                 "TESVANO_LOG=stderr"}));
        ASSERT_TRUE(started.has_value()) << started.error();
        engine = std::move(*started);
        if (!ourExtension) {
            return;
        }
        const auto first = nextEvent(kPatience);
        ASSERT_TRUE(first.has_value()) << "the engine did not put its rule in force";
        ASSERT_EQ(field(*first, "reason"), "startupApplied") << summary(first);
        ASSERT_TRUE(gnome->waitForCurrent(field(*first, "inputSource"), kPatience))
            << summary(first) << "; the shell has " << gnome->current().value_or("nothing")
            << " after " << gnome->switches() << " switches";
        // Past the engine's verification, and the shell's signal of that switch counted before
        // the first activation's.
        const auto late = engine->linesWithin(500ms);
        ASSERT_TRUE(late.empty()) << late.front().dump();
    }

    // The engine's next activation; its log lines (with --log) on the way go to `logLines`.
    std::optional<JSON> nextEvent(std::chrono::milliseconds timeout) {
        return engine->awaitLine([](const JSON& line) { return line.contains("reason"); }, timeout,
                                 [this](const JSON& line) { noteLog(line); });
    }
    void noteLog(const JSON& line) {
        if (line.contains("log")) {
            logLines.push_back(line["log"].get<std::string>());
        }
    }
    void burstRounds(int rounds, const std::function<void(int round)>& send, const char* what);
    // Activates the stand-in `i` and waits for its rule's switch.
    void bringToFront(std::size_t i) {
        desktop->requestActivation(windowIDs[i]);
        ASSERT_TRUE(desktop->waitForActive(windowIDs[i], kPatience));
        const auto event = nextEvent(kPatience);
        ASSERT_EQ(summary(event),
                  std::string(kApps[i].source) + " appActivated " + kApps[i].appID + " appRule");
        ASSERT_TRUE(gnome->waitForCurrent(kApps[i].source, kPatience));
    }

    bool ourExtension = true;
    std::vector<std::string> engineFlags;
    std::vector<std::string> logLines;
    std::unique_ptr<test::GnomeShellSession> gnome;
    std::unique_ptr<test::DesktopWindows> desktop;
    test::StandInProcess processes[std::size(kApps)];
    unsigned long windowIDs[std::size(kApps)] = {};
    std::unique_ptr<test::JSONLineProcess> engine;
};

TEST_F(GnomeShellLockTest, LockHoldsThroughTheShellAndRevertsItsOwnShortcut) {
    startEngine();
    if (HasFatalFailure()) {
        return;
    }
    // Each activation: the engine's one switch, the rule's source current as the shell says,
    // and exactly one change of the shell's source, nothing put back afterwards.
    std::map<std::string, int> held;
    for (int round = 1; round <= kRounds; ++round) {
        for (std::size_t i = 0; i < std::size(kApps); ++i) {
            SCOPED_TRACE(std::string(kApps[i].appID) + " round " + std::to_string(round));
            const int before = gnome->switches();
            desktop->requestActivation(windowIDs[i]);
            EXPECT_TRUE(desktop->waitForActive(windowIDs[i], kPatience));
            const auto event = engine->nextLine(kPatience);
            const std::string expected =
                std::string(kApps[i].source) + " appActivated " + kApps[i].appID + " appRule";
            EXPECT_EQ(summary(event), expected);
            const bool current = gnome->waitForCurrent(kApps[i].source, kPatience);
            EXPECT_TRUE(current);
            // Past the engine's verification of the switch, so a late revert would show.
            const auto late = engine->linesWithin(500ms);
            EXPECT_TRUE(late.empty()) << summary(late.front());
            const int switches = gnome->switches() - before;
            EXPECT_EQ(switches, 1);
            EXPECT_EQ(gnome->current(), kApps[i].source);
            held[kApps[i].appID] +=
                summary(event) == expected && current && late.empty() && switches == 1;
        }
    }
    for (const auto& app : kApps) {
        std::cout << "[ GNOME    ] lock held " << held[app.appID] << " of " << kRounds << " for "
                  << app.appID << "\n";
        EXPECT_EQ(held[app.appID], kRounds) << app.appID;
    }

    // The shell's own shortcut while Gamma's English is locked: the shell switches, the lock
    // puts English back through the shell.
    const int before = gnome->switches();
    desktop->pressChord({"Super_L", "space"});
    const auto reverted = engine->nextLine(kPatience);
    EXPECT_EQ(summary(reverted), "xkb:us revertedSwitch org.example.Gamma appRule");
    EXPECT_TRUE(gnome->waitForCurrent("xkb:us", kPatience));
    EXPECT_TRUE(engine->linesWithin(500ms).empty());
    EXPECT_EQ(gnome->switches() - before, 2) << "the shell's switch and the revert";

    EXPECT_EQ(engine->stop(), 0);
}

// Another program switches the shell to Russian 40 times, 5 ms apart, while Alpha is locked
// to German, as a script or a second switcher would. The shell may take a switch of ours and
// another program's in one go and announce only the end of it: the lock must still hold
// (German current once the engine's verification is over) or pause for the fight, and every
// revert it reports must be one the shell confirmed, so the activations never end on a revert
// while the shell sits on Russian. `send` makes the 40 calls of a round.
void GnomeShellLockTest::burstRounds(int rounds, const std::function<void(int round)>& send,
                                     const char* what) {
    int held = 0;
    int paused = 0;
    // Reverts of each round, "p" marking a pause.
    std::vector<std::string> reverts;
    for (int round = 1; round <= rounds; ++round) {
        SCOPED_TRACE("burst " + std::to_string(round));
        // From Gamma, in front since the start or the last burst: a change of application
        // starts the lock's fight count afresh.
        bringToFront(0);
        if (HasFatalFailure()) {
            return;
        }
        send(round);
        // The engine's answer, until it has nothing more to say past its verification.
        std::vector<JSON> events;
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const auto lines = engine->linesWithin(1s);
            for (const auto& line : lines) {
                noteLog(line);
                if (line.contains("reason")) {
                    events.push_back(line);
                }
            }
            if (lines.empty() || std::chrono::steady_clock::now() - start > kPatience) {
                break;
            }
        }
        const bool pause = std::ranges::any_of(
            events, [](const JSON& e) { return field(e, "reason") == "conflictPaused"; });
        const auto current = gnome->current();
        for (const auto& event : events) {
            const std::string reason = field(event, "reason");
            EXPECT_TRUE(reason == "revertedSwitch" || reason == "conflictPaused") << summary(event);
            EXPECT_EQ(field(event, "inputSource"), "xkb:de") << summary(event);
        }
        if (!pause) {
            EXPECT_EQ(current, "xkb:de")
                << "neither held nor paused after " << events.size() << " activations";
        }
        reverts.push_back(std::to_string(events.size() - pause) + (pause ? "p" : ""));
        held += !pause && current == "xkb:de";
        paused += pause;
        bringToFront(2);
        if (HasFatalFailure()) {
            return;
        }
    }
    std::cout << "[ GNOME    ] burst of 40 foreign switches " << what << ": held " << held
              << ", paused " << paused << " of " << rounds << " (reverts:";
    for (const auto& r : reverts) {
        std::cout << " " << r;
    }
    std::cout << ")\n";
    EXPECT_EQ(held + paused, rounds);
}

namespace shell = platform::gnome_shell;
const platform::dbus::Object kExtension{shell::busName, shell::objectPath, shell::interfaceName};
constexpr int kBursts = 10;
constexpr int kBurstCalls = 40;
// The pace of the other program, not a wait.
constexpr auto kBurstPace = 5ms;

// One connection, each call waiting for the shell's answer before the next.
TEST_F(GnomeShellLockTest, LockHoldsOrPausesThroughABurstOfAnotherProgramsSwitches) {
    startEngine();
    if (HasFatalFailure()) {
        return;
    }
    auto bus = platform::dbus::Connection::open(gnome->session().sessionBusAddress());
    ASSERT_TRUE(bus.has_value()) << bus.error();
    burstRounds(
        kBursts,
        [&](int) {
            for (int i = 0; i < kBurstCalls; ++i) {
                EXPECT_TRUE(bus->call(kExtension, shell::members::activate, "xkb", "ru"));
                std::this_thread::sleep_for(kBurstPace);
            }
        },
        "from one caller");
    EXPECT_EQ(engine->stop(), 0);
}

// Forty other programs, each a process of its own sending one call, started 5 ms after the
// one before (every other round 50 ms, so that the burst outlasts the lock's verification
// retries): their calls overlap at the shell, and its announcements of them come while the
// lock's reverts settle.
TEST_F(GnomeShellLockTest, LockHoldsOrPausesThroughABurstFromConcurrentCallers) {
    startEngine();
    if (HasFatalFailure()) {
        return;
    }
    const auto& session = gnome->session();
    burstRounds(
        kBursts,
        [&](int round) {
            const auto pace = round % 2 ? kBurstPace : 10 * kBurstPace;
            std::atomic<int> answered = 0;
            const auto start = std::chrono::steady_clock::now();
            {
                std::vector<std::jthread> callers;
                for (int i = 0; i < kBurstCalls; ++i) {
                    callers.emplace_back([&, i] {
                        std::this_thread::sleep_until(start + i * pace);
                        answered += test::gnomeShellActivate(session, "xkb", "ru");
                    });
                }
            }
            EXPECT_EQ(answered, kBurstCalls);
        },
        "from concurrent callers");
    EXPECT_EQ(engine->stop(), 0);
}

// The shell starts again on a stale source of its own; the rule of the window in front
// applies again once the extension answers. A new shell claims the extension's name before
// its own: that is no foreign holder, and nothing is reported as one.
TEST_F(GnomeShellLockTest, RuleOfTheWindowInFrontHoldsAfterAShellRestart) {
    engineFlags = {"--log"};
    startEngine();
    desktop->requestActivation(windowIDs[0]);
    ASSERT_TRUE(gnome->waitForCurrent("xkb:de", kPatience));
    auto& session = gnome->session();
    ASSERT_TRUE(session.run({"gsettings", "set", "org.gnome.desktop.input-sources", "mru-sources",
                             "[('xkb', 'ru'), ('xkb', 'us'), ('xkb', 'de')]"}));
    auto restarted = test::startGnomeShell(session, {"us", "de", "ru"}, false);
    ASSERT_TRUE(restarted.has_value()) << restarted.error();
    ASSERT_TRUE(test::leaveGnomeShellOverview(
        session, [this] { desktop->pressChord({"Escape"}); }, 4 * kPatience));
    EXPECT_TRUE(desktop->waitForActive(windowIDs[0], kPatience));
    EXPECT_TRUE(gnome->waitForCurrent("xkb:de", kPatience)) << gnome->current().value_or("-");
    // Past the time a foreign holder is given before it is reported.
    for (const auto& line :
         engine->linesWithin(platform::GnomeShellTextInputSources::foreignOwnerGrace + 2s)) {
        noteLog(line);
    }
    EXPECT_EQ(gnome->current(), "xkb:de");
    // The new shell runs the extension this program carries, whenever it said so.
    for (const auto& line : logLines) {
        EXPECT_EQ(line.find("which is not GNOME Shell"), std::string::npos) << line;
        EXPECT_EQ(line.find("version"), std::string::npos) << line;
    }
    EXPECT_TRUE(std::ranges::count(logLines, "the shell's input sources answer") >= 2)
        << "the extension was not taken up again after the restart";
}

class GnomeShellWithoutExtensionTest : public GnomeShellLockTest {
protected:
    GnomeShellWithoutExtensionTest() { ourExtension = false, engineFlags = {"--sources"}; }
};

// Before the extension is on, with the IBus the shell runs ("xkb:us::eng" for every layout):
// the shell's sources and current one are read; nothing is selected, put back or logged as a
// fight, whatever the shell's own switcher selects.
TEST_F(GnomeShellWithoutExtensionTest, ListsTheShellsSourcesAndSelectsNothing) {
    auto rules = lockRules();
    rules.appRules[2].lockedSourceID = InputSourceID("xkb:ru");
    startEngine(rules);
    auto line = engine->nextLine(kPatience).value_or(JSON::object());
    EXPECT_EQ(line.value("sources", JSON()), JSON({"xkb:us", "xkb:de", "xkb:ru"}));
    for (const char* current : {"xkb:us", "xkb:de", "xkb:us", "xkb:de"}) {
        EXPECT_EQ(line.value("current", JSON()), current) << line.dump();
        desktop->pressChord({"Super_L", "space"});
        line = engine->nextLine(kPatience).value_or(JSON::object());
    }
    EXPECT_EQ(engine->linesWithin(1s).size(), 0u);
}

}  // namespace
}  // namespace tesvano
