#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tesvano {

// How the lock engine hears which launcher overlay, if any, owns the keyboard focus.
// Main thread only.
class FloatingAppMonitoring {
public:
    using Handler = std::function<void(const std::optional<std::string>& launcherAppId)>;

    virtual ~FloatingAppMonitoring() = default;

    // Takes the handler and begins watching; a second start keeps the first handler.
    virtual void start(Handler handler) = 0;
    // Checks again now (after Accessibility has been granted).
    virtual void refresh() = 0;
    // Ends watching; the handler is not called.
    virtual void stop() = 0;
};

}  // namespace tesvano
