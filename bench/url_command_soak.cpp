// Resident memory of the running program while it takes tesvano:// commands, each handed over
// as a later launch hands it (a message of its own), in a mix of reading and changing ones, a
// tenth with a reply for the desktop to open. Prints the memory every `step` commands and the
// growth over the second half, which must be about nothing once the program has levelled off.
//   url_command_soak <pid of the running program> [commands, default 100000] [step]
// bench/url-command-soak.sh runs it against the program in a private session.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Tesvano/App/SingleInstance.h"
#include "bench/ProbeArguments.h"

namespace {

// "RssAnon" (what the program allocated) of a process, in KiB.
long anonymousKiB(const std::string& pid) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("RssAnon:", 0) == 0) {
            return std::stol(line.substr(8));
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    long process = 0;
    long commands = 100'000;
    long step = 0;
    if (const auto ended =
            tesvano::bench::ProbeArguments(
                "usage: url_command_soak <pid> [commands, default 100000] [step, default a "
                "twentieth]\n")
                .word("the pid", process, 1, 1L << 22, true)
                .word("the count of commands", commands, 1, 100'000'000)
                .word("the step", step, 1, 100'000'000)
                .parse(argc, argv)) {
        return *ended;
    }
    const std::string pid = std::to_string(process);
    step = step > 0 ? step : std::max(1L, commands / 20);
    auto instance = tesvano::SingleInstance::claim(tesvano::SingleInstance::defaultFolder());
    if (!instance || (*instance)->isPrimary()) {
        std::fprintf(stderr, "no running Tesvano to send to\n");
        return 1;
    }
    const std::vector<std::string> mix = {
        "tesvano://status",
        "tesvano://lock-to-source?source=xkb:de",
        "tesvano://set-url-rule?host=soak.example&source=xkb:us",
        "tesvano://list-log?limit=20",
        "tesvano://remove-url-rule?host=soak.example",
        "tesvano://set-app-rule?bundle=org.example.Soak&mode=lock&source=xkb:de",
        "tesvano://remove-app-rule?bundle=org.example.Soak",
        "tesvano://switch-source?source=xkb:us",
        "tesvano://no-such-command",
        "tesvano://current-source?x-success=soak-reply://ok&x-error=soak-reply://error",
    };
    const auto started = std::chrono::steady_clock::now();
    long half = -1;
    long failed = 0;
    std::printf("%9s %12s %9s\n", "commands", "allocated", "seconds");
    for (long i = 0; i <= commands; ++i) {
        if (i % step == 0) {
            const long kib = anonymousKiB(pid);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::printf("%9ld %9.1f MB %9.0f\n", i, kib / 1024.0, seconds);
            std::fflush(stdout);
            if (i == commands / 2 / step * step) {
                half = kib;
            }
            if (i == commands) {
                std::printf("second half: %+.1f KB (%+.3f KB per command); %ld not taken\n",
                            double(kib - half),
                            double(kib - half) / double(commands - commands / 2), failed);
            }
        }
        if (i < commands &&
            !(*instance)->handOver({mix[static_cast<std::size_t>(i) % mix.size()]})) {
            ++failed;
        }
    }
    return 0;
}
