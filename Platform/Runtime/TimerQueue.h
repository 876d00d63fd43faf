#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// Pending delayed actions ordered by due time, then by the order they were added.
class TimerQueue {
public:
    Registration add(Seconds due, std::function<void()> action);

    // The due time of the earliest live entry, if any.
    bool nextDue(Seconds& due);

    // Removes and returns the earliest live entry due at or before `now`; empty when none.
    std::function<void()> takeDue(Seconds now);

    bool empty();

private:
    struct Entry {
        Seconds due;
        std::uint64_t sequence;
        std::shared_ptr<Registration::State> state;
        std::function<void()> action;
    };
    void dropCancelled();

    std::vector<Entry> heap_;
    std::uint64_t nextSequence_ = 0;
};

// Registered fd watches; cancelled ones are dropped lazily.
class FdWatchList {
public:
    struct Watch {
        int fd;
        std::shared_ptr<Registration::State> state;
        std::shared_ptr<std::function<void()>> callback;
    };

    Registration add(int fd, std::function<void()> callback);
    // A snapshot of the live watches, safe to iterate while callbacks add or cancel others.
    std::vector<Watch> live();

private:
    std::vector<Watch> watches_;
};

}  // namespace tesvano::platform
