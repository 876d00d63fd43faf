#pragma once

#include <functional>

#include "Platform/Runtime/Runtime.h"

namespace tesvano {

// The system says nothing when Accessibility access is granted, so this polls the trust
// check and calls the handler once, as soon as the check passes. The first check comes one
// interval after start, never at once.
class AccessibilityGrantWatcher {
public:
    using TrustCheck = std::function<bool()>;
    static constexpr platform::Seconds defaultPollInterval{0.5};

    AccessibilityGrantWatcher(platform::Runtime& runtime, platform::Seconds pollInterval,
                              TrustCheck isTrusted);
    AccessibilityGrantWatcher(const AccessibilityGrantWatcher&) = delete;
    AccessibilityGrantWatcher& operator=(const AccessibilityGrantWatcher&) = delete;
    // Destruction cancels the polling.
    ~AccessibilityGrantWatcher() = default;

    // Does nothing while polling (the first handler stays).
    void start(std::function<void()> handler);
    // Ends polling; the handler is not called.
    void stop();

    bool isPolling() const { return task_.active(); }
    platform::Seconds pollInterval() const { return pollInterval_; }

private:
    void schedule();
    void poll();

    platform::Runtime& runtime_;
    platform::Registration task_;
    platform::Seconds pollInterval_;
    TrustCheck isTrusted_;
    std::function<void()> handler_;
};

}  // namespace tesvano
