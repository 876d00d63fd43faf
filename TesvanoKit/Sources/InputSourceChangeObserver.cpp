#include "TesvanoKit/Sources/InputSourceChangeObserver.h"

namespace tesvano {

InputSourceChangeObserver::InputSourceChangeObserver(platform::TextInputSources& system,
                                                     InputSourceEvent event)
    : system_(system), notification_(event) {}

void InputSourceChangeObserver::start(std::function<void()> handler) {
    if (isRegistered_) {
        return;
    }
    handler_ = std::move(handler);
    auto deliver = [this] { this->deliver(); };
    registration_ = notification_ == InputSourceEvent::selectionChanged
                        ? system_.onSelectionChanged(deliver)
                        : system_.onEnabledSourcesChanged(deliver);
    isRegistered_ = true;
}

void InputSourceChangeObserver::stop() {
    if (!isRegistered_) {
        return;
    }
    registration_.cancel();
    isRegistered_ = false;
    handler_ = nullptr;
}

void InputSourceChangeObserver::deliver() {
    // A copy, so that a handler which stops or restarts this observer does not destroy
    // itself while it runs.
    if (auto handler = handler_) {
        handler();
    }
}

}  // namespace tesvano
