#pragma once

#include <string>

namespace tesvano {

// Where the program hands each opened URL of its scheme, one at a time, in the order
// received. The automation interface implements it; the state is started before any call.
class URLCommandHandling {
public:
    virtual ~URLCommandHandling() = default;
    // The URL's text exactly as it arrived.
    virtual void handle(const std::string& url) = 0;
};

// Takes the place of the automation interface until it exists: notes the URL, does nothing.
class URLCommandStandIn final : public URLCommandHandling {
public:
    void handle(const std::string& url) override;
};

}  // namespace tesvano
