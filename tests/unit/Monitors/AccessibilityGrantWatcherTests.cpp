#include <gtest/gtest.h>

#include "Platform/Runtime/ManualRunLoop.h"
#include "TesvanoKit/Monitors/AccessibilityGrantWatcher.h"

namespace tesvano {
namespace {

using platform::ManualRunLoop;
using platform::Seconds;

class AccessibilityGrantWatcherTest : public ::testing::Test {
protected:
    ManualRunLoop loop;
    bool trusted = false;
    int checks = 0;
    AccessibilityGrantWatcher watcher{loop, Seconds(0.5), [this] {
                                          ++checks;
                                          return trusted;
                                      }};
};

TEST_F(AccessibilityGrantWatcherTest, TrustedAtStartCallsOnceAfterTheFirstInterval) {
    trusted = true;
    int calls = 0;
    watcher.start([&] { ++calls; });
    loop.runDue();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(checks, 0);
    loop.advance(Seconds(0.499));
    EXPECT_EQ(calls, 0);
    loop.advance(Seconds(0.001));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(watcher.isPolling());
    loop.advance(Seconds(5));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(checks, 1);
}

TEST_F(AccessibilityGrantWatcherTest, PollsUntilTrustedAndMayBeStartedAgain) {
    int calls = 0;
    watcher.start([&] { ++calls; });
    loop.advance(Seconds(1.0));
    EXPECT_EQ(checks, 2);
    trusted = true;
    loop.advance(Seconds(0.5));
    EXPECT_EQ(calls, 1);

    // The handler may start it again; the new run polls anew.
    int again = 0;
    watcher.start([&] {
        ++again;
        watcher.start([&] { ++again; });
    });
    loop.advance(Seconds(0.5));
    EXPECT_EQ(again, 1);
    EXPECT_TRUE(watcher.isPolling());
    loop.advance(Seconds(0.5));
    EXPECT_EQ(again, 2);
}

TEST_F(AccessibilityGrantWatcherTest, StopBeforeTheIntervalAndSecondStartKeepTheFirstHandler) {
    trusted = true;
    int first = 0;
    int second = 0;
    watcher.start([&] { ++first; });
    watcher.start([&] { ++second; });
    loop.advance(Seconds(0.5));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(checks, 1);

    watcher.start([&] { ++first; });
    loop.advance(Seconds(0.25));
    watcher.stop();
    loop.runUntilIdle();
    EXPECT_EQ(first, 1);

    {
        AccessibilityGrantWatcher scoped(loop, Seconds(0.5), [] { return true; });
        scoped.start([&] { ++second; });
    }
    loop.runUntilIdle();
    EXPECT_EQ(second, 0);
}

}  // namespace
}  // namespace tesvano
