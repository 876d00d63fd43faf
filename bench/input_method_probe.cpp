// Measures input-method switching with the real frameworks, IBus and Fcitx 5 (each with
// Anthy), on a private Xvfb with a window manager and a Qt window whose text field has the
// focus and an input context of the framework:
//  - the time from a selection request (what the lock does when the activation delay has
//    passed) to the framework reporting the source as current, for the layout entry (the
//    standard request) and the Japanese engine (the focused-context request);
//  - the time from the window manager's change of _NET_ACTIVE_WINDOW to the framework
//    reporting the rule's source as current, over activations that alternate between that
//    window (locked to the engine) and a second one (locked to the layout entry), split into
//    the engine program's part (up to its selection; the design waits 0.04 s first) and the
//    framework's part after it;
//  - the engine program's wake-ups while it sits idle with that window in front and its
//    rule in force, with the framework running and with it stopped.
//   input_method_probe [--switches N] [--activations N] [--idle-seconds S]
//                      [--framework ibus|fcitx]
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <glib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
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

constexpr double kDesignedDelayMs = 40.0;

// The window manager's answer to an activation request, as every X client sees it.
class ActiveWindowWatch {
public:
    explicit ActiveWindowWatch(const std::string& display)
        : x_(XOpenDisplay(display.c_str())),
          atom_(x_ != nullptr ? XInternAtom(x_, "_NET_ACTIVE_WINDOW", False) : None) {
        if (x_ != nullptr) {
            XSelectInput(x_, DefaultRootWindow(x_), PropertyChangeMask);
            XFlush(x_);
        }
    }
    ~ActiveWindowWatch() {
        if (x_ != nullptr) {
            XCloseDisplay(x_);
        }
    }
    ActiveWindowWatch(const ActiveWindowWatch&) = delete;
    ActiveWindowWatch& operator=(const ActiveWindowWatch&) = delete;

    bool ok() const { return x_ != nullptr; }

    // Asks for `window` as a pager does and answers when the manager has made it active
    // (at once when it is already).
    std::optional<Clock::time_point> activate(unsigned long window) {
        if (active() == window) {
            return Clock::now();
        }
        XEvent request{};
        request.xclient.type = ClientMessage;
        request.xclient.window = window;
        request.xclient.message_type = atom_;
        request.xclient.format = 32;
        request.xclient.data.l[0] = 2;
        request.xclient.data.l[1] = CurrentTime;
        XSendEvent(x_, DefaultRootWindow(x_), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &request);
        XFlush(x_);
        const auto deadline = Clock::now() + 2s;
        while (Clock::now() < deadline) {
            while (XPending(x_) > 0) {
                XEvent event;
                XNextEvent(x_, &event);
                if (event.type == PropertyNotify && event.xproperty.atom == atom_ &&
                    active() == window) {
                    return Clock::now();
                }
            }
            std::this_thread::sleep_for(200us);
        }
        return std::nullopt;
    }

private:
    unsigned long active() {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        unsigned long out = 0;
        if (XGetWindowProperty(x_, DefaultRootWindow(x_), atom_, 0, 1, False, XA_WINDOW, &type,
                               &format, &count, &after, &data) == Success &&
            data != nullptr) {
            if (count == 1 && format == 32) {
                out = *reinterpret_cast<unsigned long*>(data);
            }
            XFree(data);
        }
        return out;
    }

    Display* x_;
    Atom atom_;
};

// The wall time of an activation line's selection, as the engine program writes it.
std::optional<double> selectedAt(test::JSONLineProcess& engine, const std::string& source) {
    const auto line = engine.awaitLine(
        [&](const auto& each) { return each.value("inputSource", "") == source; }, 2s);
    if (!line) {
        return std::nullopt;
    }
    return line->value("timestamp", 0.0);
}

double wallSeconds(Clock::time_point at) {
    const auto sinceNow = std::chrono::duration<double>(at - Clock::now());
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
               .count() +
           sinceNow.count();
}

int measureActivations(const test::InputMethodSession& session, const std::string& display,
                       const InputMethodFramework& framework, int activations) {
    // A second application: the window program under another name is another executable.
    const auto other = session.session().home() / "tesvano-im-other";
    std::filesystem::copy_file(TESVANO_IM_WINDOW_PATH, other,
                               std::filesystem::copy_options::overwrite_existing);
    LockConfiguration rules;
    rules.isEnabled = true;
    rules.appRules = {
        AppRule{"process:tesvano-im-window", AppRuleMode::locked, InputSourceID(framework.engine)},
        AppRule{"process:tesvano-im-other", AppRuleMode::locked, InputSourceID(framework.layout)}};
    const auto path = session.session().home() / "rules.json";
    test::writeFile(path, encodeConfiguration(rules));
    auto engine =
        test::JSONLineProcess::start({TESVANO_ENGINE_PATH, "--display", display, path.string()},
                                     session.session().environment());
    if (!engine) {
        return fail(engine.error());
    }
    auto second = test::JSONLineProcess::start(
        {other.string()}, session.session().environment({"QT_QPA_PLATFORM=xcb"}));
    if (!second || !(*second)->nextLine(20s)) {
        return fail("the second window did not start");
    }
    auto first = session.startWindow();
    if (!first) {
        return fail(first.error());
    }
    const auto windowOf = [&](pid_t pid) {
        const auto id = session.session().output(
            {"xdotool", "search", "--sync", "--onlyvisible", "--pid", std::to_string(pid)}, 10s);
        return id ? std::stoul(*id) : 0UL;
    };
    const unsigned long windows[2] = {windowOf((*first)->pid()), windowOf((*second)->pid())};
    if (windows[0] == 0 || windows[1] == 0) {
        return fail("the windows were not found");
    }
    ActiveWindowWatch watch(display);
    platform::GLibRunLoop loop;
    auto sources = platform::openSessionTextInputSources(loop, display);
    if (!watch.ok() || !sources) {
        return fail("cannot watch the session");
    }
    TextInputSourceProvider provider(**sources);
    const InputSourceID targets[2] = {InputSourceID(framework.engine),
                                      InputSourceID(framework.layout)};
    if (!spinUntil([&] { return provider.source(targets[0]).has_value(); })) {
        return fail(std::string(framework.name) + " lists no " + framework.engine);
    }
    std::vector<double> total[2];
    std::vector<double> ours[2];
    for (int i = 0; i < activations + 2; ++i) {
        const int which = i % 2 == 0 ? 1 : 0;
        (*engine)->takeLines();
        const auto start = watch.activate(windows[which]);
        if (!start) {
            return fail("activation " + std::to_string(i) + " was not made: asked for " +
                        std::to_string(windows[which]) + ", active " +
                        session.session().output({"xdotool", "getactivewindow"}, 2s).value_or(""));
        }
        if (!spinUntil([&] { return provider.currentSourceID() == targets[which]; })) {
            return fail("activation " + std::to_string(i) + " did not bring " +
                        targets[which].rawValue + "; current: " + session.currentEngine());
        }
        const auto end = Clock::now();
        const auto selected = selectedAt(**engine, targets[which].rawValue);
        // The first two start the engine's process and settle the windows: not measured.
        if (i >= 2 && selected) {
            total[which].push_back(std::chrono::duration<double, std::milli>(end - *start).count());
            ours[which].push_back((*selected - wallSeconds(*start)) * 1000.0);
        }
        // Past the engine's verification of the switch, so each activation is measured alone.
        (*engine)->linesWithin(400ms);
    }
    for (const int which : {0, 1}) {
        if (total[which].empty()) {
            continue;
        }
        std::printf(
            "  activation to current, %s (%zu): median %.3f ms   p90 %.3f ms   max %.3f ms\n"
            "    of which the engine program up to its selection: median %.3f ms (%.3f ms "
            "beyond the designed %.0f ms wait), the framework after it: median %.3f ms\n",
            which == 0 ? "CJKV engine" : "layout entry", total[which].size(), median(total[which]),
            percentile(total[which], 0.9), *std::ranges::max_element(total[which]),
            median(ours[which]), median(ours[which]) - kDesignedDelayMs, kDesignedDelayMs,
            median(total[which]) - median(ours[which]));
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
    long activations = 60;
    long idleSeconds = 30;
    std::string chosen = "both";
    const std::string usage =
        "usage: input_method_probe [--switches N] [--activations N] [--idle-seconds S] "
        "[--framework ibus|fcitx]\n"
        "  (defaults: 200 switches, 60 activations, 30 s idle, both frameworks)\n";
    if (const auto ended = tesvano::bench::ProbeArguments(usage)
                               .number("--switches", switches, 2, 1'000'000)
                               .number("--activations", activations, 2, 100'000)
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
        if (const int failed = measureActivations(*session, display, *framework, activations)) {
            return failed;
        }
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
