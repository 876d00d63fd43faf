#pragma once

#include <optional>
#include <string>

namespace tesvano {

// How the lock engine reads the page URL of a browser. Main thread only.
class BrowserURLProviding {
public:
    virtual ~BrowserURLProviding() = default;

    // The page URL of the focused window of this browser, or none.
    virtual std::optional<std::string> readURL(const std::optional<std::string>& appId) = 0;
    // Whether the last read gave none only because the browser did not answer in time (it is
    // busy or hung), not because it shows no page.
    virtual bool lastReadUnanswered() const { return false; }
};

}  // namespace tesvano
