#include "Platform/Accessibility/AtspiVocabulary.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tesvano::platform::atspi {

namespace {

// The layer's window events are AT-SPI's own; a launcher's overlay that closes is destroyed
// or deactivated, one that opens is created or activated.
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kEvents{{
    {a11y::focusEvent, focusEvent},
    {a11y::windowCreateEvent, "window:create"},
    {a11y::windowActivateEvent, "window:activate"},
    {a11y::windowDestroyEvent, "window:destroy"},
    {a11y::windowResizeEvent, "window:resize"},
    {a11y::windowDeactivateEvent, "window:deactivate"},
}};

}  // namespace

std::optional<std::string_view> atspiEventFor(std::string_view event) {
    for (const auto& [name, type] : kEvents) {
        if (name == event) {
            return type;
        }
    }
    return std::nullopt;
}

std::vector<std::string_view> eventsFor(std::string_view eventType, int) {
    std::vector<std::string_view> names;
    for (const auto& [name, type] : kEvents) {
        if (type == eventType) {
            names.push_back(name);
        }
    }
    return names;
}

std::optional<std::string> documentURL(const std::map<std::string, std::string>& attributes) {
    for (const auto key : {geckoDocumentURL, chromiumDocumentURL}) {
        if (auto it = attributes.find(std::string(key));
            it != attributes.end() && !it->second.empty()) {
            return it->second;
        }
    }
    return std::nullopt;
}

std::vector<std::string> classList(std::string_view text) {
    std::vector<std::string> words;
    constexpr std::string_view space = " \t\n\r\f";
    std::size_t at = 0;
    while ((at = text.find_first_not_of(space, at)) != std::string_view::npos) {
        const auto end = std::min(text.find_first_of(space, at), text.size());
        words.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::shared_ptr<EventRouter::Entry> EventRouter::add(std::int32_t pid,
                                                     AccessibilityObserverCallback callback) {
    std::erase_if(entries_, [](const auto& weak) { return weak.expired(); });
    auto entry = std::make_shared<Entry>();
    entry->pid = pid;
    entry->callback = std::move(callback);
    entries_.push_back(entry);
    return entry;
}

void EventRouter::dispatch(std::int32_t pid, std::string_view eventType, int detail1,
                           const AccessibleElement& source) {
    const auto names = eventsFor(eventType, detail1);
    if (names.empty()) {
        return;
    }
    // A snapshot: callbacks may add or drop observers.
    std::vector<std::weak_ptr<Entry>> snapshot = entries_;
    for (const auto& weak : snapshot) {
        for (const auto name : names) {
            auto entry = weak.lock();
            if (!entry || entry->pid != pid || !entry->events.contains(name)) {
                continue;
            }
            auto callback = entry->callback;
            entry.reset();
            callback(source, std::string(name));
        }
    }
}

bool EventRouter::wants(std::string_view event) const {
    return std::ranges::any_of(entries_, [&](const auto& weak) {
        auto entry = weak.lock();
        return entry && entry->events.contains(event);
    });
}

}  // namespace tesvano::platform::atspi
