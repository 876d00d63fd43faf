// Measures the engine program on a private Xvfb, as another X client sees it:
//  - the time from a change of _NET_ACTIVE_WINDOW to the keyboard group being locked, over
//    many activations that alternate between two applications with different locks (the
//    design waits 0.04 s after each activation before it reads the active application;
//    the figures are shown with and without that wait);
//  - the engine's CPU time, wake-ups and memory while it sits idle with an application in
//    front that needs no polling.
//   engine_latency_probe [--activations N] [--idle-seconds S] [--engine path]
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TesvanoKit/Rules/LockConfiguration.h"
#include "bench/ProbeArguments.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestDesktop.h"
#include "tests/support/XkbKeymapLoader.h"
#include "tests/support/XvfbServer.h"

namespace {

using namespace tesvano;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kDesignedDelayMs = 40.0;
// Past the engine's verification of a switch (0.32 s), so each activation is measured alone.
constexpr auto kGap = 350ms;

struct ProcessSample {
    double cpuSeconds = 0;
    long voluntarySwitches = 0;
    long involuntarySwitches = 0;
    long rssKiB = 0;
    long peakRssKiB = 0;
    long anonymousKiB = 0;  // the engine's own data, without the mapped libraries
};

ProcessSample sample(pid_t pid) {
    ProcessSample out;
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    // Fields after the command name, which may hold spaces: state is field 3, utime 14.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::vector<std::string> values;
    for (std::string v; fields >> v;) {
        values.push_back(v);
    }
    if (values.size() > 12) {
        const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
        out.cpuSeconds = (std::stod(values[11]) + std::stod(values[12])) / tick;
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        auto number = [&line] { return std::stol(line.substr(line.find(':') + 1)); };
        if (line.starts_with("voluntary_ctxt_switches:")) {
            out.voluntarySwitches = number();
        } else if (line.starts_with("nonvoluntary_ctxt_switches:")) {
            out.involuntarySwitches = number();
        } else if (line.starts_with("VmRSS:")) {
            out.rssKiB = number();
        } else if (line.starts_with("VmHWM:")) {
            out.peakRssKiB = number();
        } else if (line.starts_with("RssAnon:")) {
            out.anonymousKiB = number();
        }
    }
    return out;
}

double percentile(const std::vector<double>& sorted, double p) {
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

double median(const std::vector<double>& sorted) {
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

int fail(const std::string& message) {
    std::cerr << "engine_latency_probe: " << message << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    long activations = 200;
    long idleSeconds = 60;
    std::string enginePath = TESVANO_ENGINE_PATH;
    if (const auto ended =
            tesvano::bench::ProbeArguments(
                "usage: engine_latency_probe [--activations N] [--idle-seconds S] [--engine path]\n"
                "  (defaults: 200 activations, 60 s idle, the engine of this build)\n")
                .number("--activations", activations, 1, 1'000'000)
                .number("--idle-seconds", idleSeconds, 0, 86'400)
                .text("--engine", enginePath)
                .parse(argc, argv)) {
        return *ended;
    }

    auto server = test::XvfbServer::start();
    if (!server) {
        return fail(server.error());
    }
    auto opened = test::TestDesktop::open((*server)->display());
    if (!opened) {
        return fail(opened.error());
    }
    auto& desktop = *opened;
    if (auto loaded = test::loadKeymap(desktop->connection(), {{"us", ""}, {"de", ""}, {"ru", ""}});
        !loaded) {
        return fail(loaded.error());
    }
    test::TempDir home;
    test::writeFile(home / "data/applications/org.example.Alpha.desktop",
                    "[Desktop Entry]\nType=Application\nName=Alpha\nExec=alpha-app\n"
                    "StartupWMClass=alpha\n");
    test::writeFile(home / "data/applications/org.example.Beta.desktop",
                    "[Desktop Entry]\nType=Application\nName=Beta\nExec=beta-app\n"
                    "StartupWMClass=beta\n");
    test::StandInProcess alphaApp;
    test::StandInProcess betaApp;
    const unsigned long windows[2] = {desktop->addWindow("alpha", alphaApp.pid()),
                                      desktop->addWindow("beta", betaApp.pid())};
    const unsigned groups[2] = {1, 2};  // de, ru

    LockConfiguration rules;
    rules.isEnabled = true;
    rules.defaultSourceID = InputSourceID("xkb:us");
    rules.appRules = {
        AppRule{"org.example.Alpha", AppRuleMode::locked, InputSourceID("xkb:de")},
        AppRule{"org.example.Beta", AppRuleMode::locked, InputSourceID("xkb:ru")},
    };
    test::writeFile(home / "rules.json", encodeConfiguration(rules));

    // Russian first: the engine's first line, English put in force, says it is ready.
    desktop->lockGroup(2);
    if (!desktop->waitForLockedGroup(2, 2s)) {
        return fail("the group could not be locked");
    }
    auto started = test::JSONLineProcess::start(
        {enginePath, "--display", (*server)->display(), (home / "rules.json").string()},
        {"XDG_DATA_HOME=" + (home / "data").string(),
         "XDG_DATA_DIRS=" + (home / "no-system-data").string()});
    if (!started) {
        return fail(started.error());
    }
    auto& engine = *started;
    if (!engine->nextLine(5s) || !desktop->waitForLockedGroup(0, 2s)) {
        return fail("the engine did not start");
    }
    engine->linesWithin(kGap);

    std::vector<double> latenciesMs;
    for (int i = 0; i < activations; ++i) {
        const int which = i % 2;
        const auto start = Clock::now();
        desktop->activate(windows[which]);
        if (!desktop->waitForLockedGroup(groups[which], 2s)) {
            return fail("activation " + std::to_string(i) + " was not followed by its lock");
        }
        latenciesMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        engine->linesWithin(kGap);
    }
    std::ranges::sort(latenciesMs);
    const double med = median(latenciesMs);
    const double p99 = percentile(latenciesMs, 0.99);
    std::printf("activation to locked group, %ld activations:\n", activations);
    std::printf("  median %.3f ms   p99 %.3f ms   min %.3f ms   max %.3f ms\n", med, p99,
                latenciesMs.front(), latenciesMs.back());
    std::printf("  beyond the designed %.0f ms wait: median %.3f ms   p99 %.3f ms\n",
                kDesignedDelayMs, med - kDesignedDelayMs, p99 - kDesignedDelayMs);

    // Idle: a browser-less application in front, nothing changing.
    desktop->activate(windows[0]);
    desktop->waitForLockedGroup(groups[0], 2s);
    engine->linesWithin(1s);
    const auto before = sample(engine->pid());
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const auto after = sample(engine->pid());
    const auto idleLines = engine->takeLines();
    std::printf("idle for %ld s with an application in front:\n", idleSeconds);
    std::printf("  CPU %.3f ms   wake-ups %ld voluntary, %ld involuntary   activations %zu\n",
                (after.cpuSeconds - before.cpuSeconds) * 1000.0,
                after.voluntarySwitches - before.voluntarySwitches,
                after.involuntarySwitches - before.involuntarySwitches, idleLines.size());
    std::printf("  resident memory %ld KiB (peak %ld KiB), of which anonymous %ld KiB\n",
                after.rssKiB, after.peakRssKiB, after.anonymousKiB);
    return 0;
}
