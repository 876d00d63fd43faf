// The session's accessibility switch (org.a11y.Status.IsEnabled, served by the AT-SPI bus
// launcher) on a private session bus: a change made by anybody reaches the observer.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Platform/Accessibility/AssistiveTechnologyStatus.h"
#include "Platform/Runtime/GLibRunLoop.h"

namespace tesvano::test {
namespace {

using namespace std::chrono_literals;

// A session bus of our own, ended with the object.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        if (out == nullptr) {
            return;
        }
        char line[1024];
        if (std::fgets(line, sizeof line, out) != nullptr) {
            address_ = line;
            address_.erase(address_.find_last_not_of('\n') + 1);
        }
        if (std::fgets(line, sizeof line, out) != nullptr) {
            pid_ = std::atoi(line);
        }
        ::pclose(out);
    }
    ~PrivateSessionBus() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
        }
    }
    bool started() const { return !address_.empty() && pid_ > 0; }
    const std::string& address() const { return address_; }

private:
    std::string address_;
    pid_t pid_ = -1;
};

// Runs the loop until `done` holds or `timeout` passes.
bool runUntil(platform::GLibRunLoop& loop, const std::function<bool()>& done,
              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        auto tick = loop.after(platform::Seconds(0.02), [&loop] { loop.quit(); });
        loop.run();
    }
    return done();
}

TEST(AssistiveTechnologyStatus, FollowsTheSwitchWhoeverFlipsIt) {
    if (!std::filesystem::exists("/usr/libexec/at-spi-bus-launcher")) {
        GTEST_SKIP() << "the accessibility bus launcher is not installed";
    }
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.started()) << "cannot start dbus-daemon";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

    platform::GLibRunLoop loop;
    platform::SessionBusAssistiveTechnologyStatus watched(5000ms);
    platform::SessionBusAssistiveTechnologyStatus elsewhere(5000ms);
    ASSERT_TRUE(elsewhere.setEnabled(false)) << elsewhere.lastError();
    std::vector<bool> heard;
    auto observation = watched.observe(loop, [&](bool enabled) { heard.push_back(enabled); });
    ASSERT_TRUE(observation) << observation.error();

    ASSERT_TRUE(elsewhere.setEnabled(true)) << elsewhere.lastError();
    EXPECT_TRUE(runUntil(
        loop, [&] { return heard.size() == 1; }, 10s));
    ASSERT_TRUE(elsewhere.setEnabled(false)) << elsewhere.lastError();
    EXPECT_TRUE(runUntil(
        loop, [&] { return heard.size() == 2; }, 10s));
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));

    // Once the handle goes, nothing more.
    observation->cancel();
    ASSERT_TRUE(elsewhere.setEnabled(true));
    runUntil(
        loop, [] { return false; }, 300ms);
    EXPECT_EQ(heard.size(), 2U);
}

}  // namespace
}  // namespace tesvano::test
