// The lock engine as a program on a private X server: the tests play the window manager and
// the other programs, and read the engine's activations from its output.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <string>
#include <vector>

#include "TesvanoKit/Rules/LockConfiguration.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestDesktop.h"
#include "tests/support/X11Test.h"
#include "tests/support/XkbKeymapLoader.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;
using JSON = test::JSONLineProcess::JSON;
using Clock = std::chrono::steady_clock;
using test::summary;

constexpr unsigned kUS = 0;
constexpr unsigned kDE = 1;
constexpr unsigned kRU = 2;

constexpr const char* kAlphaID = "org.example.Alpha";
constexpr const char* kBetaID = "org.example.Beta";

// Longer than the verification of a switch (0.32 s), so that what follows is met on its own.
constexpr auto kPastVerification = 400ms;

// Alpha locks German, Beta switches to Russian once, everything else is locked to English.
LockConfiguration rules() {
    LockConfiguration configuration;
    configuration.isEnabled = true;
    configuration.defaultSourceID = InputSourceID("xkb:us");
    configuration.defaultAction = RuleAction::lock;
    configuration.appRules = {
        AppRule{kAlphaID, AppRuleMode::locked, InputSourceID("xkb:de")},
        AppRule{kBetaID, AppRuleMode::switched, InputSourceID("xkb:ru")},
    };
    return configuration;
}

class LockEngineEndToEndTest : public test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        ASSERT_GT(alphaApp.pid(), 0);
        ASSERT_GT(betaApp.pid(), 0);
        auto opened = test::TestDesktop::open(display());
        ASSERT_TRUE(opened.has_value()) << opened.error();
        desktop = std::move(*opened);
        const auto loaded =
            test::loadKeymap(desktop->connection(), {{"us", ""}, {"de", ""}, {"ru", ""}});
        ASSERT_TRUE(loaded.has_value()) << loaded.error();

        // The windows get their identities from these entries, through their WM_CLASS.
        test::writeFile(home / "data/applications/org.example.Alpha.desktop",
                        "[Desktop Entry]\nType=Application\nName=Alpha\nExec=alpha-app\n"
                        "StartupWMClass=alpha\n");
        test::writeFile(home / "data/applications/org.example.Beta.desktop",
                        "[Desktop Entry]\nType=Application\nName=Beta\nExec=beta-app\n"
                        "StartupWMClass=beta\n");
        alpha = desktop->addWindow("alpha", alphaApp.pid());
        beta = desktop->addWindow("beta", betaApp.pid());
    }

    void TearDown() override {
        engine.reset();
        desktop.reset();
        X11Test::TearDown();
    }

    // Starts the engine with Russian selected, so that its first line (the default English
    // put in force at start-up) also says it is ready.
    void startEngine(const LockConfiguration& configuration) {
        desktop->lockGroup(kRU);
        ASSERT_TRUE(desktop->waitForLockedGroup(kRU, 2s));
        const auto path = home / "rules.json";
        test::writeFile(path, encodeConfiguration(configuration));
        auto started = test::JSONLineProcess::start(
            {TESVANO_ENGINE_PATH, "--display", display(), path.string()},
            {"XDG_DATA_HOME=" + (home / "data").string(),
             "XDG_DATA_DIRS=" + (home / "no-system-data").string()});
        ASSERT_TRUE(started.has_value()) << started.error();
        engine = std::move(*started);
        const auto first = engine->nextLine(5s);
        ASSERT_EQ(summary(first), "xkb:us startupApplied - globalDefault");
        ASSERT_TRUE(desktop->waitForLockedGroup(kUS, 2s));
        startup = *first;
    }

    // The next activation, waiting a few seconds at most.
    std::optional<JSON> next() { return engine->nextLine(3s); }

    test::StandInProcess alphaApp;
    test::StandInProcess betaApp;
    test::TempDir home;
    std::unique_ptr<test::TestDesktop> desktop;
    unsigned long alpha = 0;
    unsigned long beta = 0;
    std::unique_ptr<test::JSONLineProcess> engine;
    JSON startup;
};

TEST_F(LockEngineEndToEndTest, LocksSwitchesOnceAndPausesForAConflict) {
    startEngine(rules());
    if (HasFatalFailure()) {
        return;
    }
    // Every field of the event, with the raw names of the reason and the rule.
    EXPECT_EQ(startup["inputSourceName"], "English (US)");
    EXPECT_EQ(startup["fromSourceName"], "Russian");
    EXPECT_EQ(startup["matchedHost"], nullptr);
    ASSERT_TRUE(startup["durationMs"].is_number());
    EXPECT_GE(startup["durationMs"].get<double>(), 0.0);
    ASSERT_TRUE(startup["timestamp"].is_number());
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(startup["timestamp"].get<double>(), now, 60.0);

    // Alpha comes forward: German is locked.
    desktop->activate(alpha);
    EXPECT_EQ(summary(next()), "xkb:de appActivated org.example.Alpha appRule");
    ASSERT_TRUE(desktop->waitForLockedGroup(kDE, 2s));

    // Another program locks English: it is reverted.
    desktop->lockGroup(kUS);
    EXPECT_EQ(summary(next()), "xkb:de revertedSwitch org.example.Alpha appRule");
    ASSERT_TRUE(desktop->waitForLockedGroup(kDE, 2s));

    // Beta comes forward: Russian once; the user's own choice afterwards stays.
    desktop->activate(beta);
    EXPECT_EQ(summary(next()), "xkb:ru appActivated org.example.Beta appRule");
    ASSERT_TRUE(desktop->waitForLockedGroup(kRU, 2s));
    desktop->lockGroup(kUS);
    EXPECT_TRUE(engine->linesWithin(2 * kPastVerification).empty());
    desktop->pump();
    EXPECT_EQ(desktop->lockedGroup(), kUS);

    // Back to Alpha; then five foreign switches within 5 s: four are reverted, the fifth
    // pauses the lock and the foreign layout stays.
    desktop->activate(alpha);
    EXPECT_EQ(summary(next()), "xkb:de appActivated org.example.Alpha appRule");
    ASSERT_TRUE(desktop->waitForLockedGroup(kDE, 2s));
    const auto firstForeign = Clock::now();
    for (int i = 1; i <= 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(engine->linesWithin(kPastVerification).empty());
        desktop->lockGroup(kUS);
        EXPECT_EQ(summary(next()), "xkb:de revertedSwitch org.example.Alpha appRule");
        ASSERT_TRUE(desktop->waitForLockedGroup(kDE, 2s));
    }
    EXPECT_TRUE(engine->linesWithin(kPastVerification).empty());
    desktop->lockGroup(kUS);
    const auto paused = next();
    EXPECT_LT(Clock::now() - firstForeign, 5s);
    EXPECT_EQ(summary(paused), "xkb:de conflictPaused org.example.Alpha appRule");
    if (paused) {
        EXPECT_EQ((*paused)["durationMs"], 0.0);
        EXPECT_EQ((*paused)["fromSourceName"], nullptr);
    }
    // The pause lasts 10 s; for a good part of it the foreign layout is left alone.
    EXPECT_TRUE(engine->linesWithin(2s).empty());
    desktop->pump();
    EXPECT_EQ(desktop->lockedGroup(), kUS);

    EXPECT_EQ(engine->stop(), 0) << "SIGTERM ends the engine cleanly";
}

TEST_F(LockEngineEndToEndTest, BacksOffFromAProgramThatKeepsLockingItsOwnLayout) {
    startEngine(rules());
    if (HasFatalFailure()) {
        return;
    }
    desktop->activate(alpha);
    EXPECT_EQ(summary(next()), "xkb:de appActivated org.example.Alpha appRule");
    ASSERT_TRUE(desktop->waitForLockedGroup(kDE, 2s));
    EXPECT_TRUE(engine->linesWithin(kPastVerification).empty());

    // The fighter puts Russian back whenever anybody changes the layout.
    auto opened = test::TestDesktop::open(display());
    ASSERT_TRUE(opened.has_value()) << opened.error();
    auto fighter = std::move(*opened);
    fighter->onGroupChange = [&fighter](unsigned group) {
        if (group != kRU) {
            fighter->lockGroup(kRU);
        }
    };
    fighter->lockGroup(kRU);

    // Watch both for a bounded time; a lock that fought on would switch every 0.32 s.
    constexpr auto kWatch = 5s;
    const auto start = Clock::now();
    std::vector<std::pair<Clock::duration, JSON>> switches;
    while (Clock::now() - start < kWatch) {
        pollfd fds[] = {{fighter->fd(), POLLIN, 0}, {engine->outputFd(), POLLIN, 0}};
        ::poll(fds, 2, 20);
        fighter->pump();
        for (auto& line : engine->takeLines()) {
            switches.emplace_back(Clock::now() - start, std::move(line));
        }
    }

    int reverted = 0;
    int pauses = 0;
    for (const auto& [when, event] : switches) {
        const auto said = summary(event);
        reverted += said == "xkb:de revertedSwitch org.example.Alpha appRule" ? 1 : 0;
        pauses += said == "xkb:de conflictPaused org.example.Alpha appRule" ? 1 : 0;
        EXPECT_LT(when, kWatch - 2s) << "still switching late: " << said;
    }
    EXPECT_EQ(reverted + pauses, static_cast<int>(switches.size()));
    EXPECT_GE(reverted, 1) << "the lock holds at first";
    EXPECT_LE(reverted, 4);
    EXPECT_LE(pauses, 1);
    EXPECT_EQ(fighter->lockedGroup(), kRU) << "the fighter is left its layout";
}

TEST(LockEngineProgramTest, RefusesABadConfigurationWithExitCode2) {
    test::TempDir home;
    const auto bad = home / "bad.json";
    test::writeFile(bad, R"({"isEnabled": "yes"})");
    const auto refused = test::runProgram({TESVANO_ENGINE_PATH, bad.string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.standardError.find("is not a valid configuration: isEnabled"),
              std::string::npos)
        << refused.standardError;

    const auto missing = test::runProgram({TESVANO_ENGINE_PATH, (home / "none.json").string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.standardError.find("cannot read"), std::string::npos)
        << missing.standardError;

    EXPECT_EQ(test::runProgram({TESVANO_ENGINE_PATH}).exitCode, 2);
}

}  // namespace
}  // namespace tesvano
