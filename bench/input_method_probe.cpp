// Measures input-method switching with the real frameworks, IBus and Fcitx 5 (each with
// Anthy), on a private Xvfb with a window manager and a Qt window whose text field has the
// focus and an input context of the framework:
//  - the time from a selection request (what the lock does when the activation delay has
//    passed) to the framework reporting the source as current, for the layout entry (the
//    standard request) and the Japanese engine (the focused-context request);
//  - the engine program's wake-ups while it sits idle with that window in front and its
//    rule in force, with the framework running and with it stopped.
//   input_method_probe [--switches N] [--idle-seconds S] [--framework ibus|fcitx]
#include <glib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Runtime/GLibRunLoop.h"
#include "Platform/TextInput/SessionTextInputSources.h"
#include "TesvanoKit/Rules/LockConfiguration.h"
#include "TesvanoKit/Sources/TextInputSourceProvider.h"
#include "bench/ProbeArguments.h"
#include "tests/im/InputMethodHarness.h"

namespace {

using namespace tesvano;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::InputMethodFramework;

// The engine's voluntary context switches (its wake-ups) so far, for the whole process: every
// thread's, those that have ended included, as the engine reads them itself on SIGUSR1.
// Summing /proc's per-thread counters would lose the threads that end between two readings.
std::optional<long> reportedSwitches(test::JSONLineProcess& engine) {
    ::kill(engine.pid(), SIGUSR1);
    for (auto line = engine.nextLine(5s); line; line = engine.nextLine(5s)) {
        if (line->is_object() && line->contains("voluntarySwitches")) {
            return line->at("voluntarySwitches").get<long>();
        }
    }
    return std::nullopt;
}

double median(std::vector<double> values) {
    std::ranges::sort(values);
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double percentile(std::vector<double> values, double p) {
    std::ranges::sort(values);
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

int fail(const std::string& message) {
    std::cerr << "input_method_probe: " << message << "\n";
    return 1;
}

// Runs the GLib context (where the frameworks' messages are dispatched) until `done` or 2 s.
bool spinUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + 2s;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        g_main_context_iteration(nullptr, FALSE);
    }
    return true;
}

int measureSwitches(const test::InputMethodSession& session, const std::string& display,
                    const InputMethodFramework& framework, int switches) {
    platform::GLibRunLoop loop;
    auto sources = platform::openSessionTextInputSources(loop, display);
    if (!sources) {
        return fail(sources.error());
    }
    TextInputSourceProvider provider(**sources);
    const InputSourceID layout(framework.layout);
    const InputSourceID engine(framework.engine);
    if (!spinUntil([&] { return provider.source(engine).has_value(); })) {
        return fail(std::string(framework.name) + " lists no " + framework.engine);
    }
    // The first switch to the engine starts its process; it is not measured.
    provider.select(*provider.source(engine));
    spinUntil([&] { return provider.currentSourceID() == engine; });
    std::vector<double> toLayout;
    std::vector<double> toEngine;
    for (int i = 0; i < switches; ++i) {
        const InputSourceID& target = i % 2 == 0 ? layout : engine;
        const auto start = Clock::now();
        const auto source = provider.source(target);
        if (!source || !provider.select(*source) ||
            !spinUntil([&] { return provider.currentSourceID() == target; })) {
            return fail("switch " + std::to_string(i) + " to " + target.rawValue +
                        " did not take effect; current: " + session.currentEngine());
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        (target == layout ? toLayout : toEngine).push_back(ms);
        std::this_thread::sleep_for(20ms);
    }
    for (const auto& [what, values] :
         {std::pair{"layout entry", toLayout}, std::pair{"CJKV engine", toEngine}}) {
        std::printf("  request to current, %s (%zu): median %.3f ms   p90 %.3f ms   max %.3f ms\n",
                    what, values.size(), median(values), percentile(values, 0.9),
                    *std::ranges::max_element(values));
    }
    return 0;
}

long idleWakeUps(const test::InputMethodSession& session, const std::string& display,
                 const InputMethodFramework& framework, int seconds) {
    LockConfiguration rules;
    rules.isEnabled = true;
    rules.appRules = {
        AppRule{"process:tesvano-im-window", AppRuleMode::locked, InputSourceID(framework.engine)}};
    const auto path = session.session().home() / "rules.json";
    test::writeFile(path, encodeConfiguration(rules));
    auto engine =
        test::JSONLineProcess::start({TESVANO_ENGINE_PATH, "--display", display, path.string()},
                                     session.session().environment());
    if (!engine) {
        return -1;
    }
    auto window = session.startWindow();
    if (!window) {
        return -1;
    }
    (*engine)->linesWithin(3s);
    // Two readings in a row give the cost of a reading itself (the signal's wake-up).
    const auto first = reportedSwitches(**engine);
    const auto before = reportedSwitches(**engine);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto after = reportedSwitches(**engine);
    if (!first || !before || !after) {
        return -1;
    }
    return (*after - *before) - (*before - *first);
}

}  // namespace

int main(int argc, char** argv) {
    long switches = 200;
    long idleSeconds = 30;
    std::string chosen = "both";
    const std::string usage =
        "usage: input_method_probe [--switches N] [--idle-seconds S] [--framework ibus|fcitx]\n"
        "  (defaults: 200 switches, 30 s idle, both frameworks)\n";
    if (const auto ended = tesvano::bench::ProbeArguments(usage)
                               .number("--switches", switches, 2, 1'000'000)
                               .number("--idle-seconds", idleSeconds, 1, 86'400)
                               .text("--framework", chosen)
                               .parse(argc, argv)) {
        return *ended;
    }
    std::vector<const InputMethodFramework*> frameworks = {&InputMethodFramework::ibus(),
                                                           &InputMethodFramework::fcitx()};
    if (chosen == "ibus" || chosen == "fcitx") {
        frameworks = {chosen == "ibus" ? &InputMethodFramework::ibus()
                                       : &InputMethodFramework::fcitx()};
    } else if (chosen != "both") {
        std::fprintf(stderr, "--framework %s: not ibus or fcitx\n%s", chosen.c_str(),
                     usage.c_str());
        return 2;
    }
    for (const auto* framework : frameworks) {
        auto started = test::InputMethodSession::start(*framework);
        if (!started) {
            return fail(started.error());
        }
        auto& session = *started;
        const std::string display = session->session().display();
        session->session().adoptEnvironment();
        auto window = session->startWindow();
        if (!window) {
            return fail("the test window did not start");
        }
        std::printf("%s:\n", framework->name);
        if (const int failed = measureSwitches(*session, display, *framework, switches)) {
            return failed;
        }
        window->reset();
        const long running = idleWakeUps(*session, display, *framework, idleSeconds);
        session->stopFramework();
        const long stopped = idleWakeUps(*session, display, *framework, idleSeconds);
        std::printf(
            "  engine idle for %ld s, window in front: %ld wake-ups with %s running, "
            "%ld with it stopped\n",
            idleSeconds, running, framework->name, stopped);
    }
    return 0;
}
