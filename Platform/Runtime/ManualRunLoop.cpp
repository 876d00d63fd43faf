#include "Platform/Runtime/ManualRunLoop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace tesvano::platform {

namespace {

// Waits at most `timeout` (forever when none) for the watches, then calls those that became
// readable. Returns how many ran. ppoll, not poll: a timeout rounded up to the millisecond
// would make every timer late by up to a millisecond.
int dispatchReadable(std::vector<FdWatchList::Watch> watches, std::optional<Seconds> timeout) {
    std::vector<pollfd> fds;
    fds.reserve(watches.size());
    for (const auto& w : watches) {
        fds.push_back(pollfd{w.fd, POLLIN, 0});
    }
    timespec wait{};
    if (timeout) {
        // A day at most, so that far deadlines cannot overflow; the caller just waits again.
        const auto ns = std::chrono::ceil<std::chrono::nanoseconds>(
            std::clamp(*timeout, Seconds(0), Seconds(86'400)));
        wait.tv_sec = static_cast<time_t>(ns.count() / 1'000'000'000);
        wait.tv_nsec = static_cast<long>(ns.count() % 1'000'000'000);
    }
    int ready = ::ppoll(fds.data(), fds.size(), timeout ? &wait : nullptr, nullptr);
    if (ready <= 0) {
        return 0;
    }
    int ran = 0;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !watches[i].state->cancelled) {
            (*watches[i].callback)();
            ++ran;
        }
    }
    return ran;
}

}  // namespace

ManualRunLoop::ManualRunLoop(WallTime wallOrigin) : wallOrigin_(wallOrigin) {}

Registration ManualRunLoop::after(Seconds delay, std::function<void()> action) {
    return timers_.add(uptime_ + std::max(delay, Seconds(0)), std::move(action));
}

Registration ManualRunLoop::watchReadable(int fd, std::function<void()> onReadable) {
    return watches_.add(fd, std::move(onReadable));
}

int ManualRunLoop::advance(Seconds delta) {
    const Seconds target = uptime_ + std::max(delta, Seconds(0));
    int ran = 0;
    Seconds due{};
    while (timers_.nextDue(due) && due <= target) {
        uptime_ = std::max(uptime_, due);
        if (auto action = timers_.takeDue(uptime_)) {
            action();
            ++ran;
        }
    }
    uptime_ = target;
    return ran;
}

int ManualRunLoop::runUntilIdle(int limit) {
    int ran = 0;
    Seconds due{};
    while (ran < limit && timers_.nextDue(due)) {
        ran += advance(due - uptime_);
    }
    return ran;
}

int ManualRunLoop::pumpFds(std::chrono::milliseconds timeout) {
    auto watches = watches_.live();
    if (watches.empty()) {
        return 0;
    }
    return dispatchReadable(std::move(watches), Seconds(timeout));
}

PollRunLoop::PollRunLoop() : origin_(std::chrono::steady_clock::now()) {
    reduceTimerSlack();
}

Seconds PollRunLoop::uptime() const {
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now() - origin_);
}

WallTime PollRunLoop::now() const {
    return std::chrono::time_point_cast<Seconds>(std::chrono::system_clock::now());
}

Registration PollRunLoop::after(Seconds delay, std::function<void()> action) {
    return timers_.add(uptime() + std::max(delay, Seconds(0)), std::move(action));
}

Registration PollRunLoop::watchReadable(int fd, std::function<void()> onReadable) {
    return watches_.add(fd, std::move(onReadable));
}

void PollRunLoop::iterate(Seconds deadline) {
    // Run everything due, then sleep in poll until the next timer or the deadline.
    while (auto action = timers_.takeDue(uptime())) {
        action();
        if (quit_) {
            return;
        }
    }
    Seconds wakeAt = deadline;
    Seconds due{};
    if (timers_.nextDue(due)) {
        wakeAt = std::min(wakeAt, due);
    }
    // Nothing scheduled and no deadline: sleep until a watched fd (or a signal) wakes us.
    std::optional<Seconds> wait;
    if (std::isfinite(wakeAt.count())) {
        wait = wakeAt - uptime();
    }
    dispatchReadable(watches_.live(), wait);
}

void PollRunLoop::run() {
    runFor(Seconds(std::numeric_limits<double>::infinity()));
}

void PollRunLoop::runFor(Seconds duration) {
    quit_ = false;
    const Seconds deadline = uptime() + duration;
    while (!quit_ && uptime() < deadline) {
        iterate(deadline);
    }
}

}  // namespace tesvano::platform
