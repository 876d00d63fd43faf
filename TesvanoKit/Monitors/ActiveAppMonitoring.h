#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tesvano {

// How the lock engine asks which application is active and hears when that changes.
// Identities are ProcessIdentity keys. Main thread only.
class ActiveAppMonitoring {
public:
    using Handler = std::function<void(const std::optional<std::string>& identity)>;

    virtual ~ActiveAppMonitoring() = default;

    virtual std::optional<std::string> activeAppId() = 0;
    // The application whose window has the keyboard focus, which may differ from the
    // active one for a moment before an activation is announced; none when unknown.
    virtual std::optional<std::string> focusedAppId() { return std::nullopt; }
    // Begins delivering changes; a second start keeps the first handler.
    virtual void start(Handler handler) = 0;
    // Ends delivery; the handler is not called.
    virtual void stop() = 0;

    // Told at once when an activation arrives, with the identity the notification named,
    // ahead of the report that follows once the application has settled. Monitors without
    // such a wait need not tell.
    using NoticeHandler = std::function<void(const std::optional<std::string>& identity)>;
    virtual void onActivationNoticed(NoticeHandler handler) { (void)handler; }
};

}  // namespace tesvano
