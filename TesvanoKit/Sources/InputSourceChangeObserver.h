#pragma once

#include <functional>

#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/TextInputSources.h"

namespace tesvano {

enum class InputSourceEvent { selectionChanged, enabledSourcesChanged };

// Turns one of the input-source change notifications into calls of a handler on the main
// thread. The handler gets no payload: it re-reads whatever it needs.
class InputSourceChangeObserver {
public:
    // `system` must outlive the observer.
    InputSourceChangeObserver(platform::TextInputSources& system, InputSourceEvent event);
    ~InputSourceChangeObserver() = default;  // the registration goes with it
    InputSourceChangeObserver(const InputSourceChangeObserver&) = delete;
    InputSourceChangeObserver& operator=(const InputSourceChangeObserver&) = delete;

    // Does nothing while registered: the first handler stays.
    void start(std::function<void()> handler);
    // Unregisters and drops the handler; it may be started again afterwards.
    void stop();

    InputSourceEvent notification() const { return notification_; }
    bool isRegistered() const { return isRegistered_; }

private:
    void deliver();

    platform::TextInputSources& system_;
    InputSourceEvent notification_;
    std::function<void()> handler_;
    bool isRegistered_ = false;
    platform::Registration registration_;
};

}  // namespace tesvano
