#include "Platform/Runtime/TimerQueue.h"

#include <algorithm>
#include <utility>

namespace tesvano::platform {

namespace {
// std heap functions build a max-heap; invert the order so the earliest entry is on top.
template <typename E>
bool later(const E& a, const E& b) {
    if (a.due != b.due) {
        return a.due > b.due;
    }
    return a.sequence > b.sequence;
}
}  // namespace

Registration TimerQueue::add(Seconds due, std::function<void()> action) {
    auto state = std::make_shared<Registration::State>();
    heap_.push_back(Entry{due, nextSequence_++, state, std::move(action)});
    std::push_heap(heap_.begin(), heap_.end(), later<Entry>);
    return Registration(std::move(state));
}

void TimerQueue::dropCancelled() {
    while (!heap_.empty() && heap_.front().state->cancelled) {
        std::pop_heap(heap_.begin(), heap_.end(), later<Entry>);
        heap_.pop_back();
    }
}

bool TimerQueue::nextDue(Seconds& due) {
    dropCancelled();
    if (heap_.empty()) {
        return false;
    }
    due = heap_.front().due;
    return true;
}

std::function<void()> TimerQueue::takeDue(Seconds now) {
    dropCancelled();
    if (heap_.empty() || heap_.front().due > now) {
        return {};
    }
    std::pop_heap(heap_.begin(), heap_.end(), later<Entry>);
    Entry entry = std::move(heap_.back());
    heap_.pop_back();
    // A one-shot action counts as spent once it starts.
    entry.state->cancelled = true;
    return std::move(entry.action);
}

bool TimerQueue::empty() {
    dropCancelled();
    return heap_.empty();
}

Registration FdWatchList::add(int fd, std::function<void()> callback) {
    auto state = std::make_shared<Registration::State>();
    watches_.push_back(
        Watch{fd, state, std::make_shared<std::function<void()>>(std::move(callback))});
    return Registration(std::move(state));
}

std::vector<FdWatchList::Watch> FdWatchList::live() {
    std::erase_if(watches_, [](const Watch& w) { return w.state->cancelled; });
    return watches_;
}

}  // namespace tesvano::platform
