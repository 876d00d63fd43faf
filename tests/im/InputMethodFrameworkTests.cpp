// Input methods as input sources with the real frameworks: IBus (ibus-daemon) and Fcitx 5,
// each with the Anthy engine, under a private Xvfb with a window manager, a private session
// bus and folders of their own. A small Qt window whose text field talks to the framework
// through Qt's input-method module stands for the user's application; the engine program
// locks it to the Japanese engine.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Platform/Runtime/GLibRunLoop.h"
#include "Platform/TextInput/SessionTextInputSources.h"
#include "TesvanoKit/Rules/LockConfiguration.h"
#include "TesvanoKit/Sources/TextInputSourceProvider.h"
#include "tests/im/InputMethodHarness.h"
#include "tests/support/Wait.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;
using test::InputMethodFramework;

// The lock's settle and retry windows and Fcitx's one-second poll fit well within this.
constexpr auto kStep = 10s;
// Without a desktop entry, the window's application is known by its executable.
constexpr const char* kWindowIdentity = "process:tesvano-im-window";

// The framework that serves the session, and how the session comes up.
struct Scenario {
    const char* name;
    const InputMethodFramework& framework;
    test::InputMethodSetup setup;
};
const Scenario kScenarios[] = {
    {"ibus", InputMethodFramework::ibus(), {}},
    {"fcitx", InputMethodFramework::fcitx(), {}},
    {"ibus_without_an_engine", InputMethodFramework::ibus(), {.firstEngineSet = false}},
    {"ibus_after_tesvano",
     InputMethodFramework::ibus(),
     {.firstEngineSet = false, .startedLater = true}},
    {"ibus_then_fcitx", InputMethodFramework::fcitx(), {.startedLater = true, .ibusToo = 1}},
    {"fcitx_then_ibus", InputMethodFramework::fcitx(), {.ibusToo = 2}},
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class InputMethodFrameworkTest : public ::testing::TestWithParam<Scenario> {
protected:
    const InputMethodFramework& framework() const { return GetParam().framework; }

    void startFrameworkWhenLater() {
        if (GetParam().setup.startedLater) {
            auto started = session->startFramework();
            ASSERT_TRUE(started.has_value()) << started.error();
        }
    }

    void SetUp() override {
        auto programs = framework().programs;
        programs.insert(programs.end(), {"Xvfb", "openbox", "dbus-daemon", "xdotool"});
        if (GetParam().setup.ibusToo) {
            programs.push_back("ibus-daemon");
        }
        if (auto missing = test::programsInstalled(programs); !missing) {
            GTEST_SKIP() << missing.error();
        }
        auto started = test::InputMethodSession::start(framework(), GetParam().setup);
        ASSERT_TRUE(started.has_value()) << started.error();
        session = std::move(*started);
        // The listing test reads the framework from this process; each test runs in a
        // process of its own.
        session->session().adoptEnvironment();
    }

    void TearDown() override {
        engine.reset();
        window.reset();
        session.reset();
    }

    const std::string& display() const { return session->session().display(); }

    // The engine program with one rule: the test window's application locked to the engine.
    void startEngineAndWindow() {
        LockConfiguration rules;
        rules.isEnabled = true;
        AppRule rule;
        rule.appId = kWindowIdentity;
        rule.mode = AppRuleMode::locked;
        rule.lockedSourceID = InputSourceID(framework().engine);
        rules.appRules = {rule};
        const auto path = session->session().home() / "rules.json";
        test::writeFile(path, encodeConfiguration(rules));
        auto started = test::JSONLineProcess::start(
            {TESVANO_ENGINE_PATH, "--display", display(), "--log", path.string()},
            session->session().environment());
        ASSERT_TRUE(started.has_value()) << started.error();
        engine = std::move(*started);
        ASSERT_NO_FATAL_FAILURE(startFrameworkWhenLater());
        auto shown = session->startWindow();
        ASSERT_TRUE(shown.has_value()) << shown.error();
        window = std::move(*shown);
    }

    // Reads the engine's lines until an activation of the engine for `reason` (any reason
    // when empty) comes, or the log line `log`.
    bool awaitActivation(const std::string& reason = {}, const std::string& log = {}) {
        const auto matches = [&](const test::JSONLineProcess::JSON& line) {
            return log.empty() ? line.value("inputSource", "") == framework().engine &&
                                     (reason.empty() || line.value("reason", "") == reason)
                               : line.value("log", "") == log;
        };
        const auto record = [this](const auto& line) { transcript += line.dump() + "\n"; };
        if (engine->awaitLine(matches, kStep, record)) {
            return true;
        }
        ADD_FAILURE() << "no " << reason << " activation of " << framework().engine
                      << "\nactivations so far:\n"
                      << transcript;
        return false;
    }

    bool engineBecomesCurrent(std::chrono::milliseconds timeout = kStep) {
        return test::waitUntil(
            test::every(50ms), [&] { return session->currentEngine() == framework().engineAnswer; },
            timeout);
    }

    std::unique_ptr<test::InputMethodSession> session;
    std::unique_ptr<test::JSONLineProcess> window;
    std::unique_ptr<test::JSONLineProcess> engine;
    std::string transcript;
};

TEST_P(InputMethodFrameworkTest, ListsTheFrameworksEntriesInsteadOfTheLayoutGroups) {
    platform::GLibRunLoop loop;
    auto sources = platform::openSessionTextInputSources(loop, display());
    ASSERT_TRUE(sources.has_value()) << sources.error();
    TextInputSourceProvider provider(**sources);
    startFrameworkWhenLater();
    std::vector<InputSource> listed;
    // The framework is found on the loop; read until its two entries are there.
    std::vector<platform::Registration> reads;
    for (int i = 0; i < 100; ++i) {
        reads.push_back(loop.after(platform::Seconds(0.1 * i), [&] {
            listed = provider.selectableSources();
            if (listed.size() >= 2) {
                loop.quit();
            }
        }));
    }
    auto giveUp = loop.after(platform::Seconds(10.5), [&] { loop.quit(); });
    loop.run();

    std::string ids;
    for (const auto& source : listed) {
        ids += " " + source.id.rawValue;
    }
    ASSERT_EQ(listed.size(), 2u) << "the framework's two entries, and no raw layout group; listed:"
                                 << ids;
    EXPECT_EQ(listed[0].id, InputSourceID(framework().layout));
    EXPECT_EQ(listed[0].localizedName, framework().layoutName);
    EXPECT_FALSE(listed[0].isCJKV);
    EXPECT_EQ(listed[1].id, InputSourceID(framework().engine));
    EXPECT_EQ(listed[1].localizedName, framework().engineName);
    EXPECT_TRUE(listed[1].isCJKV);
}

TEST_P(InputMethodFrameworkTest, LockMakesTheEngineCurrentInTheWindowAndRevertsOtherSwitches) {
    ASSERT_NO_FATAL_FAILURE(startEngineAndWindow());
    // The activation switches; the framework may reset the new input context once more when
    // it gets the focus, which the lock reverts.
    ASSERT_TRUE(awaitActivation());
    EXPECT_TRUE(engineBecomesCurrent()) << "current: " << session->currentEngine();

    // The revert awaited is the one of this switch, not one of the reset before it.
    for (const auto& line : engine->takeLines()) {
        transcript += line.dump() + "\n";
    }
    ASSERT_TRUE(test::runQuietly(framework().switchToLayout));
    ASSERT_TRUE(awaitActivation("revertedSwitch"));
    EXPECT_TRUE(engineBecomesCurrent()) << "current: " << session->currentEngine();
}

// An engine taken out of the framework's list, of which Fcitx says nothing, is waited for, said
// once, and not fought for.
TEST_P(InputMethodFrameworkTest, AnEngineTakenOutOfTheListIsWaitedForAndNotFoughtFor) {
    if (framework().removeEngine.empty()) {
        GTEST_SKIP() << "IBus keeps the engine in use when it leaves the list";
    }
    ASSERT_NO_FATAL_FAILURE(startEngineAndWindow());
    ASSERT_TRUE(awaitActivation());
    ASSERT_TRUE(engineBecomesCurrent());
    for (const auto& line : engine->takeLines()) {
        transcript += line.dump() + "\n";
    }
    const auto removedAt = transcript.size();
    ASSERT_TRUE(test::runQuietly(framework().removeEngine));
    const std::string waits =
        framework().engine + std::string(" is not available now; the rule waits for it");
    ASSERT_TRUE(awaitActivation({}, waits));
    // A fight would have gone on through the lock's verifications and retries meanwhile.
    for (const auto& line : engine->linesWithin(3s)) {
        transcript += line.dump() + "\n";
    }
    const auto since = transcript.substr(removedAt);
    EXPECT_EQ(since.find(waits), since.rfind(waits)) << since;
    EXPECT_EQ(since.find("revertedSwitch"), std::string::npos) << since;
    EXPECT_EQ(session->currentEngine(), framework().layoutAnswer);
}

// While the framework is away its rule waits, said once, with no pause; it holds again on the
// framework's return.
TEST_P(InputMethodFrameworkTest, ARestartOfTheFrameworkIsSurvived) {
    if (GetParam().setup.ibusToo) {
        GTEST_SKIP() << "Qt's IBus module takes Fcitx back only when its window is focused anew";
    }
    ASSERT_NO_FATAL_FAILURE(startEngineAndWindow());
    // The activation switches; the framework may reset the new input context once more when
    // it gets the focus, which the lock reverts.
    ASSERT_TRUE(awaitActivation());
    ASSERT_TRUE(engineBecomesCurrent());

    session->stopFramework();
    const std::string waits =
        framework().engine + std::string(" is not available now; the rule waits for it");
    ASSERT_TRUE(awaitActivation({}, waits));
    auto restarted = session->startFramework();
    ASSERT_TRUE(restarted.has_value()) << restarted.error();
    EXPECT_TRUE(engineBecomesCurrent(2 * kStep))
        << "current: " << session->currentEngine() << "\nactivations:\n"
        << transcript;
    for (const auto& line : engine->takeLines()) {
        transcript += line.dump() + "\n";
    }
    EXPECT_EQ(transcript.find(waits), transcript.rfind(waits)) << transcript;
    EXPECT_EQ(transcript.find("conflictPaused"), std::string::npos) << transcript;
}

INSTANTIATE_TEST_SUITE_P(Frameworks, InputMethodFrameworkTest, ::testing::ValuesIn(kScenarios),
                         [](const auto& each) { return std::string(each.param.name); });

}  // namespace
}  // namespace tesvano
