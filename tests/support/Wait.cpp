#include "tests/support/Wait.h"

#include <poll.h>

namespace tesvano::test {

bool waitUntil(const std::function<void()>& pump, const std::function<bool()>& done,
               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pump();
    }
    return true;
}

std::function<void()> every(std::chrono::milliseconds interval) {
    return [interval] { ::poll(nullptr, 0, static_cast<int>(interval.count())); };
}

}  // namespace tesvano::test
