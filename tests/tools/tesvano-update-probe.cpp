// A small stand-in for a new version of the program, for the end-to-end test of updates: it
// goes through the start-up check of a per-user installation as the program does (confirming
// its start, or rolling back and starting the previous version) and reports its version and
// what the check said as one JSON line appended to the file named by $TESVANO_PROBE_REPORT.
// With $TESVANO_PROBE_EXIT set it ends with that status instead of confirming.
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
    if (auto installation = Installation::containing(self)) {
        switch (installation->checkStartup(TESVANO_PROBE_VERSION)) {
            case Installation::StartupVerdict::nothingPending:
                verdict = "nothing pending";
                break;
            case Installation::StartupVerdict::probation:
                if (std::getenv("TESVANO_PROBE_EXIT") == nullptr) {
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
    const char* status = std::getenv("TESVANO_PROBE_EXIT");
    return status != nullptr && std::string_view(verdict) == "unconfirmed" ? std::atoi(status) : 0;
}
