#include "TesvanoKit/Monitors/AccessibilityGrantWatcher.h"

namespace tesvano {

AccessibilityGrantWatcher::AccessibilityGrantWatcher(platform::Runtime& runtime,
                                                     platform::Seconds pollInterval,
                                                     TrustCheck isTrusted)
    : runtime_(runtime), pollInterval_(pollInterval), isTrusted_(std::move(isTrusted)) {}

void AccessibilityGrantWatcher::start(std::function<void()> handler) {
    if (task_.active()) {
        return;
    }
    handler_ = std::move(handler);
    schedule();
}

void AccessibilityGrantWatcher::stop() {
    task_.cancel();
    handler_ = nullptr;
}

void AccessibilityGrantWatcher::schedule() {
    task_ = runtime_.after(pollInterval_, [this] { poll(); });
}

void AccessibilityGrantWatcher::poll() {
    if (!isTrusted_ || !isTrusted_()) {
        schedule();
        return;
    }
    // Idle before the call, so the handler may start the watcher again.
    task_.cancel();
    auto handler = std::move(handler_);
    handler_ = nullptr;
    if (handler) {
        handler();
    }
}

}  // namespace tesvano
