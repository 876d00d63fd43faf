#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tesvano {

// How the lock engine hears whether the followed browser's address bar has the keyboard
// focus. The engine says which browser to follow. Main thread only.
class AddressBarFocusMonitoring {
public:
    using Handler = std::function<void(bool focused)>;

    virtual ~AddressBarFocusMonitoring() = default;

    // Stores the handler; a second start keeps the first. Nothing is followed yet.
    virtual void start(Handler handler) = 0;
    // Follows this browser, or nothing when none.
    virtual void observe(const std::optional<std::string>& appId) = 0;
    // Checks again now (after Accessibility has been granted, or when the browser may not
    // have answered about the last focus change).
    virtual void refresh() = 0;
    // Ends watching; the handler is not called.
    virtual void stop() = 0;
};

}  // namespace tesvano
