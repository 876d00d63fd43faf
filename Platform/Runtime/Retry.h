#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// Tries something until it works, a bounded number of times, on the runtime's timers: the
// first attempt at once, each next one `delays[i]` after the previous one failed. An attempt
// reports its outcome through the callback it is handed, at once or later (an answer over
// D-Bus), so nothing waits on the main thread. Once the delays are spent, `onGiveUp` runs.
// Destroying the Retry stops it; an outcome reported after that is ignored.
class Retry {
public:
    using Done = std::function<void(bool succeeded)>;
    using Attempt = std::function<void(Done done)>;

    Retry(Runtime& runtime, std::vector<Seconds> delays, Attempt attempt,
          std::function<void()> onSuccess, std::function<void()> onGiveUp = {});
    ~Retry();
    Retry(const Retry&) = delete;
    Retry& operator=(const Retry&) = delete;

    // Makes the first attempt; calling it again does nothing.
    void start();
    bool succeeded() const;
    bool gaveUp() const;
    int attempts() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace tesvano::platform
