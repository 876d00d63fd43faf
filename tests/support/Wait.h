#pragma once

#include <chrono>
#include <functional>

namespace tesvano::test {

// Waits for `done` while running `pump` between checks: the caller's event loop (which should
// block for at most a few milliseconds a call), or every() where nothing of this process
// brings it about. Gives up after `timeout`; answers whether `done` became true.
bool waitUntil(const std::function<void()>& pump, const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(3));

// A pump that only lets `interval` pass, for waiting on other processes.
std::function<void()> every(std::chrono::milliseconds interval);

}  // namespace tesvano::test
