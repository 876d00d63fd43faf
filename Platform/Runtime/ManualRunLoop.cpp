#include "Platform/Runtime/ManualRunLoop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

namespace tesvano::platform {

namespace {

// Polls the given watches once and calls those that became readable. Returns how many ran.
int dispatchReadable(std::vector<FdWatchList::Watch> watches, int timeoutMs) {
    if (watches.empty()) {
        return 0;
    }
    std::vector<pollfd> fds;
    fds.reserve(watches.size());
    for (const auto& w : watches) {
        fds.push_back(pollfd{w.fd, POLLIN, 0});
    }
    int ready = ::poll(fds.data(), fds.size(), timeoutMs);
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
    return dispatchReadable(watches_.live(), static_cast<int>(timeout.count()));
}

PollRunLoop::PollRunLoop() : origin_(std::chrono::steady_clock::now()) {}

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
    const double waitMs = std::clamp((wakeAt - uptime()).count() * 1000.0, 0.0, 60'000.0);
    auto watches = watches_.live();
    if (watches.empty()) {
        ::poll(nullptr, 0, static_cast<int>(std::ceil(waitMs)));
        return;
    }
    dispatchReadable(std::move(watches), static_cast<int>(std::ceil(waitMs)));
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
