#include <gtest/gtest.h>

#include <cmath>

#include "Platform/Defaults/Defaults.h"
#include "Platform/Log/Log.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "TesvanoKit/Updates/UpdateController.h"

namespace tesvano {
namespace {

using platform::Seconds;
using platform::UpdateChoice;
using Kind = UpdatePhase::Kind;

platform::AppcastItem item(const std::string& version, std::string notes = "",
                           std::optional<std::string> channel = {}) {
    platform::AppcastItem i;
    i.version = version;
    i.displayVersion = version;
    i.releaseNotes = std::move(notes);
    i.channel = std::move(channel);
    return i;
}

platform::UpdaterError errorWith(int code,
                                 const char* domain = platform::UpdaterError::updaterDomain) {
    return platform::UpdaterError{domain, code, "scripted"};
}

class FakeUpdater final : public platform::Updater {
public:
    std::expected<void, platform::UpdaterError> startUpdater() override {
        if (fails) {
            return std::unexpected(errorWith(1003));
        }
        return {};
    }
    void checkForUpdates() override { ++checks; }
    void resetUpdateCycle() override { ++resets; }
    bool automaticallyChecksForUpdates() const override { return true; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    std::optional<platform::WallTime> lastUpdateCheckDate() const override { return {}; }
    bool fails = false;
    int checks = 0;
    int resets = 0;
};

class UpdateEventsTest : public ::testing::Test {
protected:
    UpdateEventsTest()
        : controller(loop, defaults, "http://127.0.0.1/feed.xml",
                     [this](platform::UpdateEvents&,
                            platform::UpdaterDelegate& d) -> std::unique_ptr<platform::Updater> {
                         delegate = &d;
                         auto made = std::make_unique<FakeUpdater>();
                         made->fails = startFails;
                         updater = made.get();
                         return made;
                     }) {
        controller.onPresentUpdateWindow = [this] { ++windows; };
        controller.onCheckOutcome = [this](const UpdateCheckOutcome& o) { outcomes.push_back(o); };
        controller.onStateChange = [this] { ++stateChanges; };
    }
    UpdateEventHandler& events() { return controller.events(); }
    UpdateViewModel& model() { return controller.model(); }

    platform::ManualRunLoop loop;
    platform::MemoryDefaults defaults;
    bool startFails = false;
    UpdateController controller;
    FakeUpdater* updater = nullptr;
    platform::UpdaterDelegate* delegate = nullptr;
    int windows = 0;
    int stateChanges = 0;
    std::vector<UpdateCheckOutcome> outcomes;
};

TEST_F(UpdateEventsTest, ChannelsComeFromTheStoredFlagEachTime) {
    controller.start();
    ASSERT_NE(delegate, nullptr);
    EXPECT_TRUE(delegate->allowedChannels().empty());
    defaults.set(usesBetaChannelKey, true);
    EXPECT_EQ(delegate->allowedChannels(), std::set<std::string>{"beta"});
    EXPECT_EQ(delegate->feedURLString(), "http://127.0.0.1/feed.xml");
    for (const char* raw : {"Beta", "BETA", " beta", ""}) {
        EXPECT_FALSE(updateChannel(raw).has_value()) << raw;
    }
    EXPECT_EQ(updateChannel("beta"), UpdateChannel::beta);
}

TEST_F(UpdateEventsTest, AFailedStartIsLoggedKeptAndLeavesChecksOff) {
    auto sink = std::make_shared<platform::CaptureLogSink>();
    auto previous = platform::setLogSink(sink);
    startFails = true;
    controller.start();
    platform::setLogSink(previous);
    EXPECT_FALSE(controller.canCheckForUpdates());
    EXPECT_EQ(controller.updater(), nullptr);
    ASSERT_TRUE(controller.startError());
    EXPECT_EQ(controller.startError()->code, 1003);
    ASSERT_FALSE(sink->records.empty());
    EXPECT_EQ(sink->records.back().category, "Updater");
    controller.checkForUpdates();
    controller.resetUpdateCycle();  // no updater: nothing to tell, nothing breaks
}

TEST_F(UpdateEventsTest, PendingVersionCycle) {
    controller.start();
    EXPECT_TRUE(controller.canCheckForUpdates());
    EXPECT_EQ(stateChanges, 1);
    // A background find waits for the user; asking for updates then shows it.
    events().updateFound(item("1.2"), false, [](UpdateChoice) {});
    EXPECT_EQ(controller.pendingUpdateVersion(), "1.2");
    EXPECT_EQ(windows, 0);
    controller.checkForUpdates();
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(updater->checks, 0);
    // The end of that update clears it.
    events().sessionEnded();
    EXPECT_FALSE(controller.pendingUpdateVersion());
    controller.checkForUpdates();
    EXPECT_EQ(updater->checks, 1);
    // A user's find opens the window at once and leaves nothing pending.
    events().updateFound(item("1.3"), true, [](UpdateChoice) {});
    EXPECT_EQ(windows, 2);
    EXPECT_FALSE(controller.pendingUpdateVersion());
    // A change of channel dismisses the offer and clears the pending version.
    std::optional<UpdateChoice> answer;
    events().updateFound(item("1.4"), false, [&](UpdateChoice c) { answer = c; });
    const int before = stateChanges;
    controller.resetUpdateCycle();
    EXPECT_EQ(answer, UpdateChoice::dismiss);
    EXPECT_FALSE(controller.pendingUpdateVersion());
    EXPECT_EQ(updater->resets, 1);
    EXPECT_EQ(stateChanges, before + 1);
    controller.resetUpdateCycle();
    EXPECT_EQ(stateChanges, before + 1) << "an unchanged value notifies nobody";
}

TEST_F(UpdateEventsTest, RepliesAnswerOnceAndResetCallsNone) {
    int calls = 0;
    model().installAction = [&] { calls += 1; };
    model().skipAction = [&] { calls += 10; };
    model().dismissAction = [&] { calls += 100; };
    model().dismiss();
    model().dismiss();
    model().install();
    EXPECT_EQ(calls, 100);
    model().installAction = [&] { calls += 1; };
    model().reset();
    model().install();
    EXPECT_EQ(calls, 100);

    int notified = 0;
    auto watch = model().observe([&] { ++notified; });
    model().setPhase(UpdatePhase::downloading(0.5));
    model().setPhase(UpdatePhase::downloading(0.5));
    model().setPhase(UpdatePhase::downloading(std::nan("")));
    model().setPhase(UpdatePhase::downloading(std::nan("")));
    EXPECT_EQ(notified, 3);
    watch.cancel();
    model().setPhase(UpdatePhase::of(Kind::idle));
    EXPECT_EQ(notified, 3);
}

TEST_F(UpdateEventsTest, ErrorsAreClassifiedByCodeRange) {
    struct Case {
        int code;
        const char* domain;
        UpdateFailure failure;
    };
    const Case cases[] = {
        {-5, platform::UpdaterError::updaterDomain, UpdateFailure::checkFailed},
        {1999, platform::UpdaterError::updaterDomain, UpdateFailure::checkFailed},
        {2000, platform::UpdaterError::updaterDomain, UpdateFailure::downloadFailed},
        {3001, platform::UpdaterError::updaterDomain, UpdateFailure::verificationFailed},
        {4999, platform::UpdaterError::updaterDomain, UpdateFailure::installationFailed},
        {5000, platform::UpdaterError::updaterDomain, UpdateFailure::unknown},
        {2000, "elsewhere", UpdateFailure::unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(updateFailure(errorWith(c.code, c.domain)), c.failure) << c.code << c.domain;
    }
}

TEST_F(UpdateEventsTest, OnlyTheUsersOwnCheckReportsItsOutcome) {
    struct Case {
        const char* name;
        std::function<void(UpdateEventHandler&, UpdateViewModel&)> before;
        bool outcomeExpected;
    };
    const Case cases[] = {
        {"the user's check", [](auto& d, auto&) { d.checkStarted([] {}); }, true},
        {"a background check", [](auto&, auto&) {}, false},
        {"the user's check, cancelled",
         [](auto& d, auto& m) {
             d.checkStarted([] {});
             m.dismiss();
         },
         false},
        {"the user's check, ended by the updater",
         [](auto& d, auto&) {
             d.checkStarted([] {});
             d.sessionEnded();
         },
         false},
        {"the user's check that found an update, then a download error",
         [](auto& d, auto&) {
             d.checkStarted([] {});
             d.updateFound(item("2.0"), true, [](UpdateChoice) {});
         },
         false},
    };
    for (const auto& c : cases) {
        for (bool asError : {false, true}) {
            outcomes.clear();
            c.before(events(), model());
            int acknowledged = 0;
            if (asError) {
                events().failed(errorWith(2001), [&] { ++acknowledged; });
            } else {
                events().noUpdateFound([&] { ++acknowledged; });
            }
            EXPECT_EQ(acknowledged, 0) << "acknowledged after the model changed";
            loop.runDue();
            EXPECT_EQ(acknowledged, 1) << c.name;
            EXPECT_EQ(model().phase(), asError ? UpdatePhase::error(UpdateFailure::downloadFailed)
                                               : UpdatePhase::of(Kind::upToDate))
                << c.name;
            EXPECT_EQ(outcomes.size(), c.outcomeExpected ? 1u : 0u) << c.name << asError;
            if (!outcomes.empty()) {
                EXPECT_EQ(outcomes[0].upToDate, !asError);
            }
        }
    }
}

TEST_F(UpdateEventsTest, FoundUpdateFillsTheModelAndDismissesTheOneBefore) {
    int cancelled = 0;
    events().checkStarted([&] { ++cancelled; });
    auto first = item("1.3.0-beta.1", "# Beta notes", "beta");
    first.date = platform::WallTime(Seconds(1'800'000'000.0));
    events().updateFound(first, true, [](UpdateChoice) {});
    EXPECT_EQ(cancelled, 1);
    EXPECT_EQ(model().phase(), UpdatePhase::found("1.3.0-beta.1"));
    EXPECT_TRUE(model().isBetaChannel());
    EXPECT_EQ(model().publishedDate(), first.date);
    EXPECT_EQ(model().releaseNotesMarkdown(), "# Beta notes");
    ASSERT_TRUE(model().skipAction);

    // The next item has no notes: it shows none rather than the notes above.
    std::optional<UpdateChoice> answer;
    events().updateFound(item("1.3.0", "", "Beta"), false, [&](UpdateChoice c) { answer = c; });
    EXPECT_EQ(model().releaseNotesMarkdown(), "");
    EXPECT_FALSE(model().isBetaChannel());
    EXPECT_FALSE(model().publishedDate());
    model().skip();
    EXPECT_EQ(answer, UpdateChoice::skip);

    events().readyToInstall([&](UpdateChoice c) { answer = c; });
    EXPECT_FALSE(model().skipAction);
    model().install();
    EXPECT_EQ(answer, UpdateChoice::install);
    events().installing();
    EXPECT_EQ(controller.phase(), Kind::installing);

    events().failed(errorWith(4001), [] {});
    loop.runDue();
    model().installAction = [] {};
    events().sessionEnded();
    EXPECT_EQ(model().phase(), UpdatePhase::error(UpdateFailure::installationFailed));
    EXPECT_FALSE(model().installAction);
    // A session that ends in any other phase leaves nothing of it.
    model().setAvailableVersion("9");
    events().installing();
    events().sessionEnded();
    EXPECT_EQ(model().phase(), UpdatePhase::of(Kind::idle));
    EXPECT_EQ(model().availableVersion(), "");
}

TEST_F(UpdateEventsTest, DownloadReadoutIsThrottledToOnceASecond) {
    struct Step {
        double at;
        std::uint64_t bytes;
        std::uint64_t shownBytes;
        double shownSpeed;
        double fraction;
    };
    for (std::uint64_t expected : {std::uint64_t(1000), std::uint64_t(0)}) {
        events().downloadStarted([] {});
        events().downloadSizeKnown(expected);
        const double start = loop.uptime().count();
        const Step steps[] = {
            {0.0, 100, 100, 0, 0.1},         {0.3, 100, 100, 0, 0.2},
            {0.6, 100, 100, 0, 0.3},         {0.9, 100, 100, 0, 0.4},
            {1.2, 100, 500, 500 / 1.2, 0.5}, {1.5, 800, 500, 500 / 1.2, 1.0},
        };
        for (const auto& s : steps) {
            loop.advance(Seconds(start + s.at) - loop.uptime());
            events().downloadReceived(s.bytes);
            EXPECT_EQ(model().downloadedBytes(), s.shownBytes) << s.at;
            EXPECT_DOUBLE_EQ(model().downloadSpeed(), s.shownSpeed) << s.at;
            EXPECT_EQ(model().phase(), UpdatePhase::downloading(expected ? s.fraction : 0.0))
                << s.at;
        }
        loop.advance(Seconds(5));
    }
}

}  // namespace
}  // namespace tesvano
