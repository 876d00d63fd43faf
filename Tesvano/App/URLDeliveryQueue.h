#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano {

// Hands the URLs of later launches to the program a slice per turn of the run loop, so that
// a message of thousands of URLs leaves the program responsive. Messages keep their order; an
// empty message (a reopen) is handed on as an empty list in its place. What waits is bounded:
// a message that does not fit is refused before its sender is told it arrived, and a slice
// ends early once its URLs took `maximumSliceTime`.
class URLDeliveryQueue {
public:
    static constexpr std::size_t defaultSliceSize = 32;
    // Two of the largest messages a launch may send.
    static constexpr std::size_t maximumPendingBytes = 2 * 1024 * 1024;
    // What a message costs besides its URLs' bytes, so that reopens are bounded too.
    static constexpr std::size_t messageOverhead = 64;
    static constexpr std::size_t urlOverhead = 32;
    static constexpr platform::Seconds maximumSliceTime{0.05};

    // `deliver` gets one URL at a time, or an empty list for a reopen.
    URLDeliveryQueue(platform::Runtime& runtime,
                     std::function<void(std::vector<std::string>)> deliver,
                     std::size_t sliceSize = defaultSliceSize);

    // What waiting `urls` would cost against maximumPendingBytes.
    static std::size_t cost(const std::vector<std::string>& urls);
    // Room for a message of this cost, held until it is pushed or released; false when the
    // queue is too full to take it.
    bool reserve(std::size_t cost);
    void release(std::size_t cost);
    // A message whose room was reserved.
    void push(std::vector<std::string> urls);

    bool idle() const { return pending_.empty(); }
    // Bytes of the waiting messages and of those reserved.
    std::size_t pendingBytes() const { return pendingBytes_ + reservedBytes_; }

private:
    void schedule();
    void deliverNext();

    platform::Runtime& runtime_;
    std::function<void(std::vector<std::string>)> deliver_;
    std::size_t sliceSize_;
    // Each message in order; a reopen is an empty one.
    std::deque<std::vector<std::string>> pending_;
    std::size_t offset_ = 0;  // how much of the first message went out
    std::size_t pendingBytes_ = 0;
    std::size_t reservedBytes_ = 0;
    platform::Registration task_;
};

}  // namespace tesvano
