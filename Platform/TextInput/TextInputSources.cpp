#include "Platform/TextInput/TextInputSources.h"

#include <algorithm>

namespace tesvano::platform {

std::optional<TextInputSource> findSource(std::vector<TextInputSource> sources,
                                          std::string_view id) {
    for (auto& source : sources) {
        if (source.id == id) {
            return std::move(source);
        }
    }
    return std::nullopt;
}

TextInputSource listedOrBare(std::vector<TextInputSource> sources, const std::string& id) {
    if (auto listed = findSource(std::move(sources), id)) {
        return std::move(*listed);
    }
    TextInputSource bare;
    bare.id = id;
    return bare;
}

Registration CallbackList::add(std::function<void()> callback) {
    dropCancelled();
    auto state = std::make_shared<Registration::State>();
    entries_.push_back(Entry{state, std::make_shared<std::function<void()>>(std::move(callback))});
    return Registration(std::move(state));
}

void CallbackList::notify() {
    dropCancelled();
    // A snapshot, so that callbacks may register or cancel others (or themselves) safely;
    // one cancelled before its turn is skipped.
    const auto snapshot = entries_;
    for (const auto& entry : snapshot) {
        if (!entry.state->cancelled) {
            (*entry.callback)();
        }
    }
}

std::size_t CallbackList::liveCount() {
    dropCancelled();
    return entries_.size();
}

void CallbackList::dropCancelled() {
    std::erase_if(entries_, [](const Entry& e) { return e.state->cancelled; });
}

}  // namespace tesvano::platform
