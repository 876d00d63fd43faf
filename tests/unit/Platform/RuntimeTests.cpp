#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "Platform/Runtime/ManualRunLoop.h"

namespace tesvano::platform {
namespace {

TEST(ManualRunLoop, RunsActionsInDueOrderAtTheirOwnTime) {
    ManualRunLoop loop;
    std::vector<std::pair<int, double>> ran;
    auto record = [&](int id) { return [&, id] { ran.emplace_back(id, loop.uptime().count()); }; };
    loop.post(Seconds(0.32), record(1));
    loop.post(Seconds(0.3), record(2));
    loop.post(Seconds(0.3), record(3));  // same due time: scheduling order
    loop.post(Seconds(-1), record(4));   // negative delay counts as zero

    EXPECT_EQ(loop.advance(Seconds(0.31)), 3);
    EXPECT_EQ(loop.advance(Seconds(1)), 1);
    ASSERT_EQ(ran.size(), 4u);
    EXPECT_EQ(ran[0], std::make_pair(4, 0.0));
    EXPECT_EQ(ran[1], std::make_pair(2, 0.3));
    EXPECT_EQ(ran[2], std::make_pair(3, 0.3));
    EXPECT_EQ(ran[3].first, 1);
    EXPECT_DOUBLE_EQ(ran[3].second, 0.32);
    EXPECT_DOUBLE_EQ(loop.uptime().count(), 1.31);
}

TEST(ManualRunLoop, ActionsScheduledWhileRunningAreHonouredWithinTheSameAdvance) {
    ManualRunLoop loop;
    int ticks = 0;
    std::function<void()> tick = [&] {
        ++ticks;
        loop.post(Seconds(0.5), tick);
    };
    loop.post(Seconds(0.5), tick);
    loop.advance(Seconds(120));
    EXPECT_EQ(ticks, 240);
}

TEST(ManualRunLoop, DroppingOrCancellingARegistrationStopsTheAction) {
    ManualRunLoop loop;
    int ran = 0;
    {
        auto dropped = loop.after(Seconds(1), [&] { ++ran; });
    }
    auto cancelled = loop.after(Seconds(1), [&] { ++ran; });
    cancelled.cancel();
    auto kept = loop.after(Seconds(1), [&] { ++ran; });
    auto moved = std::move(kept);
    EXPECT_TRUE(moved.active());
    EXPECT_FALSE(kept.active());
    loop.advance(Seconds(2));
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(moved.active()) << "a one-shot action is spent once it ran";
    EXPECT_FALSE(loop.hasPending());
}

TEST(ManualRunLoop, WallClockFollowsVirtualTimeAndCanBeShiftedAlone) {
    ManualRunLoop loop(WallTime(Seconds(1000)));
    loop.advance(Seconds(2.5));
    EXPECT_DOUBLE_EQ(loop.now().time_since_epoch().count(), 1002.5);
    loop.shiftWallClock(Seconds(-3600));
    EXPECT_DOUBLE_EQ(loop.now().time_since_epoch().count(), 1002.5 - 3600);
    EXPECT_DOUBLE_EQ(loop.uptime().count(), 2.5);
}

TEST(ManualRunLoop, FdWatchesDispatchReadableDescriptorsUntilReleased) {
    ManualRunLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int calls = 0;
    auto watch = loop.watchReadable(fds[0], [&] {
        char c;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        ++calls;
    });
    EXPECT_EQ(loop.pumpFds(std::chrono::milliseconds(0)), 0);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    EXPECT_EQ(loop.pumpFds(std::chrono::milliseconds(1000)), 1);
    EXPECT_EQ(calls, 1);
    watch.cancel();
    ASSERT_EQ(::write(fds[1], "y", 1), 1);
    EXPECT_EQ(loop.pumpFds(std::chrono::milliseconds(0)), 0);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(PollRunLoop, RunsDueActionsAndStopsOnQuit) {
    PollRunLoop loop;
    std::vector<int> order;
    // Delays far apart enough that a slow machine (sanitizers, a loaded CI) cannot make the
    // later post fall due before the earlier one.
    loop.post(Seconds(0.2), [&] { order.push_back(2); });
    loop.post(Seconds(0), [&] { order.push_back(1); });
    loop.post(Seconds(0.4), [&] {
        order.push_back(3);
        loop.quit();
    });
    loop.post(Seconds(30), [&] { order.push_back(4); });
    loop.runFor(Seconds(10));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(PollRunLoop, WithNothingScheduledSleepsUntilAWatchedFdIsReadable) {
    PollRunLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int woken = 0;
    auto watch = loop.watchReadable(fds[0], [&] {
        char c;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        ++woken;
        loop.quit();
    });
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    loop.run();
    EXPECT_EQ(woken, 1);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace tesvano::platform
