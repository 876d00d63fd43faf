#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Platform/Updater/HttpTransport.h"

namespace tesvano::platform {

// Records each GET; the test answers it through the request's handlers.
class FakeHttpTransport final : public HttpTransport {
public:
    struct Pending {
        std::string url;
        HttpRules rules;
        HttpHandlers handlers;
        bool cancelled = false;

        void respond(std::optional<std::uint64_t> length) { handlers.onResponse(length); }
        void send(std::string_view bytes) {
            handlers.onData(
                std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        }
        void finish(std::optional<std::string> error = std::nullopt) {
            handlers.onFinished(std::move(error));
        }
        // The whole body at once, with its length announced.
        void serve(std::string_view body) {
            respond(body.size());
            send(body);
            finish();
        }
    };

    std::unique_ptr<HttpRequest> get(const std::string& url, const HttpRules& rules,
                                     HttpHandlers handlers) override {
        auto pending = std::make_shared<Pending>(Pending{url, rules, std::move(handlers), false});
        requests.push_back(pending);
        return std::make_unique<Request>(pending);
    }

    // The latest request, while it is still live.
    std::shared_ptr<Pending> last() const {
        return requests.empty() || requests.back()->cancelled ? nullptr : requests.back();
    }

    std::vector<std::shared_ptr<Pending>> requests;

private:
    class Request final : public HttpRequest {
    public:
        explicit Request(std::shared_ptr<Pending> pending) : pending_(std::move(pending)) {}
        ~Request() override { pending_->cancelled = true; }

    private:
        std::shared_ptr<Pending> pending_;
    };
};

}  // namespace tesvano::platform
