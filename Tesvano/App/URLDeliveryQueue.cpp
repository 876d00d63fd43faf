#include "Tesvano/App/URLDeliveryQueue.h"

#include <algorithm>

namespace tesvano {

URLDeliveryQueue::URLDeliveryQueue(platform::Runtime& runtime,
                                   std::function<void(std::vector<std::string>)> deliver,
                                   std::size_t sliceSize)
    : runtime_(runtime),
      deliver_(std::move(deliver)),
      sliceSize_(std::max<std::size_t>(1, sliceSize)) {}

std::size_t URLDeliveryQueue::cost(const std::vector<std::string>& urls) {
    std::size_t bytes = messageOverhead;
    for (const auto& url : urls) {
        bytes += url.size() + urlOverhead;
    }
    return bytes;
}

bool URLDeliveryQueue::reserve(std::size_t cost) {
    if (pendingBytes() + cost > maximumPendingBytes) {
        return false;
    }
    reservedBytes_ += cost;
    return true;
}

void URLDeliveryQueue::release(std::size_t cost) {
    reservedBytes_ -= std::min(cost, reservedBytes_);
}

void URLDeliveryQueue::push(std::vector<std::string> urls) {
    const std::size_t bytes = cost(urls);
    release(bytes);
    pendingBytes_ += bytes;
    pending_.push_back(std::move(urls));
    if (!task_.active()) {
        schedule();
    }
}

void URLDeliveryQueue::schedule() {
    task_ = runtime_.after(platform::Seconds(0), [this] { deliverNext(); });
}

void URLDeliveryQueue::deliverNext() {
    task_.detach();
    const platform::Seconds started = runtime_.uptime();
    for (std::size_t handed = 0; handed < sliceSize_ && !pending_.empty(); ++handed) {
        auto& message = pending_.front();
        std::vector<std::string> next;
        if (!message.empty()) {
            next.push_back(std::move(message[offset_++]));
            pendingBytes_ -= std::min(pendingBytes_, next.back().size() + urlOverhead);
        }
        if (offset_ >= message.size()) {
            pending_.pop_front();
            pendingBytes_ -= std::min(pendingBytes_, messageOverhead);
            offset_ = 0;
        }
        // Deliveries may end this queue's owner's loop turn; the next slice is due before.
        if (!pending_.empty() && !task_.active()) {
            schedule();
        }
        deliver_(std::move(next));
        // A command may take long (a rule list of thousands); the rest waits for a later turn.
        if (runtime_.uptime() - started >= maximumSliceTime) {
            break;
        }
    }
}

}  // namespace tesvano
