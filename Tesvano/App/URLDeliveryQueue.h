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
// empty message (a reopen) is handed on as an empty slice in its place.
class URLDeliveryQueue {
public:
    static constexpr std::size_t defaultSliceSize = 32;

    URLDeliveryQueue(platform::Runtime& runtime,
                     std::function<void(std::vector<std::string>)> deliver,
                     std::size_t sliceSize = defaultSliceSize);

    void push(std::vector<std::string> urls);
    bool idle() const { return pending_.empty(); }

private:
    void deliverNext();

    platform::Runtime& runtime_;
    std::function<void(std::vector<std::string>)> deliver_;
    std::size_t sliceSize_;
    // Each message in order; a reopen is an empty one.
    std::deque<std::vector<std::string>> pending_;
    std::size_t offset_ = 0;  // how much of the first message went out
    platform::Registration task_;
};

}  // namespace tesvano
