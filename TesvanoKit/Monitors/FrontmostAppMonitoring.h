#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tesvano {

// How the lock engine asks which application is frontmost and hears when that changes.
// Identities are ProcessIdentity keys. Main thread only.
class FrontmostAppMonitoring {
public:
    using Handler = std::function<void(const std::optional<std::string>& identity)>;

    virtual ~FrontmostAppMonitoring() = default;

    virtual std::optional<std::string> frontmostAppId() = 0;
    // Begins delivering changes; a second start keeps the first handler.
    virtual void start(Handler handler) = 0;
    // Ends delivery; the handler is not called.
    virtual void stop() = 0;
};

}  // namespace tesvano
