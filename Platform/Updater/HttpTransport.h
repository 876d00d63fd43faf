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
    // While paused no data is handed over (nor the end reported); the transport holds at most
    // its bounded read buffer meanwhile and the server waits.
    virtual void pause() {}
    virtual void resume() {}
};

struct HttpHandlers {
    // The final response's headers arrived (redirects are followed first): the announced
    // length, when the server gave one.
    std::function<void(std::optional<std::uint64_t> contentLength)> onResponse;
    std::function<void(std::span<const std::uint8_t> chunk)> onData;
    // The transfer ended: none on success, else what went wrong (an HTTP error status, a
    // refused connection or redirect, a body shorter than announced).
    std::function<void(std::optional<std::string> error)> onFinished;
};

// Where a request, and each redirect on its way, may go: https always; plain http only to this
// machine's loopback interface, only when `plainLoopback`, and never after https.
struct HttpRules {
    bool plainLoopback = false;
    int maxRedirects = 10;
};

class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    virtual std::unique_ptr<HttpRequest> get(const std::string& url, const HttpRules& rules,
                                             HttpHandlers handlers) = 0;
};

}  // namespace tesvano::platform
