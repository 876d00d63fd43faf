#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tesvano::platform {

// One HTTP GET on the main thread's loop. Destroying the request cancels it; no handler runs
// after that.
class HttpRequest {
public:
    virtual ~HttpRequest() = default;
};

struct HttpHandlers {
    // The response headers arrived: the announced length, when the server gave one.
    std::function<void(std::optional<std::uint64_t> contentLength)> onResponse;
    std::function<void(std::span<const std::uint8_t> chunk)> onData;
    // The transfer ended: none on success, else what went wrong (an HTTP error status, a
    // refused connection, a body shorter than announced).
    std::function<void(std::optional<std::string> error)> onFinished;
};

class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    virtual std::unique_ptr<HttpRequest> get(const std::string& url, HttpHandlers handlers) = 0;
};

}  // namespace tesvano::platform
