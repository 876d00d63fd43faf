// Measures one URL read of the active browser over AT-SPI, as the engine's poll makes it,
// on the display and session bus of the environment (bench/url-poll.sh sets them up):
//   url_poll_probe [--samples N] [--interval-ms M]
// Prints one JSON line per read: wall time on the calling thread, elements visited (reads of
// the page-address attribute), the active application and the address found; then a
// summary line with the median and worst time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Accessibility/AtspiAccessibility.h"
#include "Platform/Runtime/GLibRunLoop.h"
#include "Platform/Workspace/X11Workspace.h"
#include "TesvanoKit/Monitors/AccessibilityBrowserURLReader.h"
#include "bench/ProbeArguments.h"

namespace {

using namespace tesvano;
using Clock = std::chrono::steady_clock;

// Passes every call through, counting the elements a read visits.
class CountingAccessibility final : public platform::Accessibility {
public:
    explicit CountingAccessibility(platform::Accessibility& inner) : inner_(inner) {}
    int visited = 0;
    bool isProcessTrusted() override { return inner_.isProcessTrusted(); }
    platform::AccessibleElement desktopElement() override { return inner_.desktopElement(); }
    platform::AccessibleElement applicationElement(std::int32_t pid) override {
        return inner_.applicationElement(pid);
    }
    std::expected<platform::AttributeValue, platform::AccessibilityError> readAttribute(
        const platform::AccessibleElement& element, std::string_view attribute) override {
        if (attribute == platform::a11y::documentURL) {
            ++visited;
        }
        return inner_.readAttribute(element, attribute);
    }
    std::expected<std::int32_t, platform::AccessibilityError> processIdentifier(
        const platform::AccessibleElement& element) override {
        return inner_.processIdentifier(element);
    }
    std::expected<void, platform::AccessibilityError> setCallTimeout(
        const platform::AccessibleElement& element, double seconds) override {
        return inner_.setCallTimeout(element, seconds);
    }
    std::expected<std::unique_ptr<platform::AccessibilityObserver>, platform::AccessibilityError>
    createObserver(std::int32_t pid, platform::AccessibilityObserverCallback callback) override {
        return inner_.createObserver(pid, std::move(callback));
    }

private:
    platform::Accessibility& inner_;
};

}  // namespace

int main(int argc, char** argv) {
    long samples = 40;
    long intervalMs = 250;
    if (const auto ended =
            tesvano::bench::ProbeArguments(
                "usage: url_poll_probe [--samples N] [--interval-ms M]   (defaults: 40, 250)\n")
                .number("--samples", samples, 1, 1'000'000)
                .number("--interval-ms", intervalMs, 0, 60'000)
                .parse(argc, argv)) {
        return *ended;
    }
    platform::GLibRunLoop loop;
    auto workspace =
        platform::X11Workspace::open(loop, platform::DesktopEntryIndex::scanStandardFolders());
    if (!workspace) {
        std::fprintf(stderr, "url_poll_probe: %s\n", workspace.error().c_str());
        return 1;
    }
    platform::SessionBusAssistiveTechnologyStatus status;
    auto atspi = platform::AtspiAccessibility::open(loop, status);
    if (!atspi) {
        std::fprintf(stderr, "url_poll_probe: %s\n", atspi.error().c_str());
        return 1;
    }
    CountingAccessibility counting(**atspi);
    AccessibilityBrowserURLReader reader(**workspace, counting, 4000);

    std::vector<double> times;
    int taken = 0;
    std::function<void()> sample = [&] {
        const auto active = (*workspace)->activeApplication();
        const auto appId = active ? active->appId : std::nullopt;
        counting.visited = 0;
        const auto started = Clock::now();
        const auto url = reader.readURL(appId);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        times.push_back(ms);
        std::printf("{\"ms\":%.3f,\"visited\":%d,\"active\":\"%s\",\"url\":\"%s\"}\n", ms,
                    counting.visited, appId.value_or("").c_str(), url.value_or("").c_str());
        std::fflush(stdout);
        if (++taken >= samples) {
            loop.quit();
            return;
        }
        loop.post(platform::Seconds(intervalMs / 1000.0), sample);
    };
    loop.post(platform::Seconds(0.5), sample);
    loop.run();
    std::ranges::sort(times);
    std::printf("{\"samples\":%zu,\"medianMs\":%.3f,\"worstMs\":%.3f}\n", times.size(),
                times.empty() ? 0.0 : times[times.size() / 2], times.empty() ? 0.0 : times.back());
    return 0;
}
