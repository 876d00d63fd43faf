// The session's accessibility switch (org.a11y.Status.IsEnabled, served by the AT-SPI bus
// launcher) on a private session bus: a change made by anybody reaches the observer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "Platform/Accessibility/AssistiveTechnologyStatus.h"
#include "Platform/Runtime/GLibRunLoop.h"
#include "tests/support/PrivateSession.h"

namespace tesvano::test {
namespace {

using namespace std::chrono_literals;

// Runs the loop until `done` holds or `timeout` passes.
bool runUntil(platform::GLibRunLoop& loop, const std::function<bool()>& done,
              std::chrono::milliseconds timeout) {
    const auto tick = [&loop] {
        auto quit = loop.after(platform::Seconds(0.02), [&loop] { loop.quit(); });
        loop.run();
    };
    return waitUntil(tick, done, timeout);
}

TEST(AssistiveTechnologyStatus, FollowsTheSwitchWhoeverFlipsIt) {
    if (!std::filesystem::exists("/usr/libexec/at-spi-bus-launcher")) {
        GTEST_SKIP() << "the accessibility bus launcher is not installed";
    }
    auto bus = SessionBus::start();
    ASSERT_TRUE(bus.has_value()) << bus.error();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", (*bus)->address().c_str(), 1);

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

TEST(AssistiveTechnologyStatus, IsFollowedAgainOnceTheBusRestarts) {
    if (!std::filesystem::exists("/usr/libexec/at-spi-bus-launcher")) {
        GTEST_SKIP() << "the accessibility bus launcher is not installed";
    }
    auto bus = SessionBus::start();
    ASSERT_TRUE(bus.has_value()) << bus.error();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", (*bus)->address().c_str(), 1);

    platform::GLibRunLoop loop;
    platform::SessionBusAssistiveTechnologyStatus watched(5000ms);
    platform::SessionBusAssistiveTechnologyStatus elsewhere(5000ms);
    ASSERT_TRUE(elsewhere.setEnabled(false)) << elsewhere.lastError();
    std::vector<bool> heard;
    auto observation = watched.observe(loop, [&](bool enabled) { heard.push_back(enabled); });
    ASSERT_TRUE(observation) << observation.error();

    // The launcher goes with the bus; the next switch starts another on the new one.
    auto restarted = (*bus)->restart();
    ASSERT_TRUE(restarted) << restarted.error();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", (*bus)->address().c_str(), 1);
    // Heard from the match on the new connection, or read once the watch has connected again
    // if the switch came first.
    ASSERT_TRUE(elsewhere.setEnabled(true)) << elsewhere.lastError();
    ASSERT_TRUE(runUntil(
        loop, [&] { return !heard.empty() && heard.back(); }, 10s));
    // Connected again by now: a change is heard as it happens.
    ASSERT_TRUE(elsewhere.setEnabled(false)) << elsewhere.lastError();
    EXPECT_TRUE(runUntil(
        loop, [&] { return !heard.back(); }, 10s));
}

}  // namespace
}  // namespace tesvano::test
