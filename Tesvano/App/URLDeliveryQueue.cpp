#include "Tesvano/App/URLDeliveryQueue.h"

#include <algorithm>

namespace tesvano {

URLDeliveryQueue::URLDeliveryQueue(platform::Runtime& runtime,
                                   std::function<void(std::vector<std::string>)> deliver,
                                   std::size_t sliceSize)
    : runtime_(runtime),
      deliver_(std::move(deliver)),
      sliceSize_(std::max<std::size_t>(1, sliceSize)) {}

void URLDeliveryQueue::push(std::vector<std::string> urls) {
    pending_.push_back(std::move(urls));
    if (!task_.active()) {
        task_ = runtime_.after(platform::Seconds(0), [this] { deliverNext(); });
    }
}

void URLDeliveryQueue::deliverNext() {
    task_.detach();
    if (pending_.empty()) {
        return;
    }
    auto& message = pending_.front();
    const std::size_t end = std::min(message.size(), offset_ + sliceSize_);
    std::vector<std::string> slice(
        std::make_move_iterator(message.begin() + static_cast<std::ptrdiff_t>(offset_)),
        std::make_move_iterator(message.begin() + static_cast<std::ptrdiff_t>(end)));
    offset_ = end;
    if (offset_ >= message.size()) {
        pending_.pop_front();
        offset_ = 0;
    }
    // The next slice waits for the next turn, after whatever else is due.
    if (!pending_.empty()) {
        task_ = runtime_.after(platform::Seconds(0), [this] { deliverNext(); });
    }
    deliver_(std::move(slice));
}

}  // namespace tesvano
