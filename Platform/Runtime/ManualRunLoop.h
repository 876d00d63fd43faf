#pragma once

#include <chrono>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Runtime/TimerQueue.h"

namespace tesvano::platform {

// A run loop on virtual time for tests: nothing happens until the test advances the clock,
// and a two-minute back-off takes no real time at all.
class ManualRunLoop final : public Runtime {
public:
    explicit ManualRunLoop(WallTime wallOrigin = WallTime(Seconds(1'800'000'000.0)));

    Seconds uptime() const override { return uptime_; }
    WallTime now() const override { return wallOrigin_ + uptime_; }
    Registration after(Seconds delay, std::function<void()> action) override;
    Registration watchReadable(int fd, std::function<void()> onReadable) override;

    // Moves virtual time forward by `delta`, running every action that falls due on the way
    // at its own due time. Returns how many actions ran.
    int advance(Seconds delta);
    // Runs whatever is due now, without moving the clock.
    int runDue() { return advance(Seconds(0)); }
    // Advances to each pending action in turn until none is left (or `limit` actions ran).
    int runUntilIdle(int limit = 10'000);
    bool hasPending() { return !timers_.empty(); }

    // Moves the wall clock without moving the monotonic one (a clock change by the user).
    void shiftWallClock(Seconds delta) { wallOrigin_ += delta; }

    // Waits up to `timeout` of real time for watched fds and dispatches the readable ones.
    // For tests that talk to a real server (an Xvfb) while timers stay virtual.
    int pumpFds(std::chrono::milliseconds timeout);

private:
    Seconds uptime_{0};
    WallTime wallOrigin_;
    TimerQueue timers_;
    FdWatchList watches_;
};

// The loop for command-line tools: real clocks, poll(2) on the watched fds.
class PollRunLoop final : public Runtime {
public:
    PollRunLoop();

    Seconds uptime() const override;
    WallTime now() const override;
    Registration after(Seconds delay, std::function<void()> action) override;
    Registration watchReadable(int fd, std::function<void()> onReadable) override;

    // Runs until quit() is called.
    void run();
    // Runs for at most `duration`, or until quit().
    void runFor(Seconds duration);
    void quit() { quit_ = true; }

private:
    void iterate(Seconds deadline);

    std::chrono::steady_clock::time_point origin_;
    TimerQueue timers_;
    FdWatchList watches_;
    bool quit_ = false;
};

}  // namespace tesvano::platform
