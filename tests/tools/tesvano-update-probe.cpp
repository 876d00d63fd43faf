// A small stand-in for a new version of the program, for the end-to-end test of updates: it
// goes through the start-up check of a per-user installation as the program does (confirming
// its start, or rolling back and starting the previous version) and reports its version and
// what the check said as one JSON line appended to the file named by $TESVANO_PROBE_REPORT.
// Without confirming, it ends with the status in $TESVANO_PROBE_EXIT, aborts with
// $TESVANO_PROBE_ABORT set, or waits for a signal with $TESVANO_PROBE_HOLD naming a file for its
// process id; it notes its own faults on the way as the program does.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "Platform/Updater/Installation.h"

#ifndef TESVANO_PROBE_VERSION
#define TESVANO_PROBE_VERSION "0"
#endif

int main(int, char** argv) {
    namespace fs = std::filesystem;
    using tesvano::platform::Installation;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    const char* verdict = "not installed";
    const bool unconfirmed = std::getenv("TESVANO_PROBE_EXIT") != nullptr ||
                             std::getenv("TESVANO_PROBE_ABORT") != nullptr ||
                             std::getenv("TESVANO_PROBE_HOLD") != nullptr;
    if (auto installation = Installation::containing(self)) {
        switch (installation->checkStartup(TESVANO_PROBE_VERSION)) {
            case Installation::StartupVerdict::nothingPending:
                verdict = "nothing pending";
                break;
            case Installation::StartupVerdict::probation:
                installation->watchOwnStart(TESVANO_PROBE_VERSION);
                if (!unconfirmed) {
                    installation->confirmStart(TESVANO_PROBE_VERSION);
                    verdict = "confirmed";
                } else {
                    verdict = "unconfirmed";
                }
                break;
            case Installation::StartupVerdict::rollBack:
                if (installation->rollBack("an earlier start did not confirm")) {
                    tesvano::platform::execInstead(installation->currentExecutable(), {argv[0]});
                }
                verdict = "cannot go back";
                break;
        }
    }
    const char* report = std::getenv("TESVANO_PROBE_REPORT");
    if (report == nullptr) {
        return 2;
    }
    std::FILE* out = std::fopen(report, "a");
    if (out == nullptr) {
        return 1;
    }
    std::fprintf(out, "{\"version\":\"%s\",\"verdict\":\"%s\"}\n", TESVANO_PROBE_VERSION, verdict);
    if (std::fclose(out) != 0) {
        return 1;
    }
    if (std::string_view(verdict) != "unconfirmed") {
        return 0;
    }
    if (std::getenv("TESVANO_PROBE_ABORT") != nullptr) {
        std::abort();
    }
    if (const char* pidFile = std::getenv("TESVANO_PROBE_HOLD")) {
        // Where the test finds whom to signal (written last: once there, it is on probation).
        if (std::FILE* file = std::fopen(pidFile, "w")) {
            std::fprintf(file, "%d\n", static_cast<int>(::getpid()));
            std::fclose(file);
        }
        for (;;) {
            ::pause();
        }
    }
    const char* status = std::getenv("TESVANO_PROBE_EXIT");
    return status != nullptr ? std::atoi(status) : 0;
}
