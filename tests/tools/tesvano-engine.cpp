// Runs the lock engine on the X display with a configuration file, and prints each activation
// as one line of JSON on standard output:
//   tesvano-engine [--display :N] [--accessibility] [--sources] [--log] configuration.json
// The configuration is the stored JSON form of the rules. With --sources it also prints the
// sources and the current one ({"sources": [ids], "current": id or null}) at start and each
// time either changes. With --accessibility the engine
// reads browsers over AT-SPI on the session's accessibility bus (URL rules, the address bar,
// password fields); without it, those features stay off. With --log the program's log records
// (debug ones aside) are printed there too, as {"log": message}. On SIGUSR1 it prints
// {"voluntarySwitches": n}: its wake-ups so far, every thread's (ended ones included). A
// developer and test tool: the end-to-end tests and the probes drive it; it stops on SIGTERM
// or SIGINT.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Accessibility/AtspiAccessibility.h"
#include "Platform/Accessibility/NoAccessibility.h"
#include "Platform/Log/Log.h"
#include "Platform/Runtime/GLibRunLoop.h"
#include "Platform/TextInput/SessionTextInputSources.h"
#include "Platform/Workspace/X11Workspace.h"
#include "TesvanoKit/Lock/LockEngine.h"
#include "TesvanoKit/Monitors/AccessibilityBrowserURLReader.h"
#include "TesvanoKit/Rules/LockConfiguration.h"

namespace {

using namespace tesvano;

constexpr int kUsageError = 2;
constexpr int kRuntimeError = 1;

int signalPipe[2] = {-1, -1};

// 'q' to quit, 'u' to report the resource usage.
void onSignal(int number) {
    const int saved = errno;
    const char byte = number == SIGUSR1 ? 'u' : 'q';
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

int usage() {
    std::cerr << "usage: tesvano-engine [--display :N] [--accessibility] [--sources] [--log] "
                 "configuration.json\n";
    return kUsageError;
}

bool printLine(const OrderedJSON& line) {
    const std::string text = dumpCompact(line) + "\n";
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

class LineLogSink final : public platform::LogSink {
public:
    void write(const platform::LogRecord& record) override {
        if (record.level != platform::LogLevel::debug) {
            printLine(OrderedJSON{{"log", record.message}});
        }
    }
};

template <typename T>
OrderedJSON optionalJSON(const std::optional<T>& value) {
    return value ? OrderedJSON(*value) : OrderedJSON(nullptr);
}

std::string eventLine(const ActivationEvent& event) {
    OrderedJSON line;
    line["timestamp"] = event.timestamp.time_since_epoch().count();
    line["inputSource"] = event.inputSource.rawValue;
    line["inputSourceName"] = event.inputSourceName;
    line["reason"] = std::string(rawValue(event.reason));
    line["durationMs"] = event.durationMs;
    line["fromSourceName"] = optionalJSON(event.fromSourceName);
    line["triggeringBundleID"] = optionalJSON(event.triggeringAppId);
    line["ruleSource"] = event.ruleSource ? OrderedJSON(std::string(rawValue(*event.ruleSource)))
                                          : OrderedJSON(nullptr);
    line["matchedHost"] = optionalJSON(event.matchedHost);
    return dumpCompact(line);
}

}  // namespace

int main(int argc, char** argv) {
    std::string display;
    std::string path;
    bool useAccessibility = false;
    bool printSources = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--display" && i + 1 < argc) {
            display = argv[++i];
        } else if (arg == "--accessibility") {
            useAccessibility = true;
        } else if (arg == "--sources") {
            printSources = true;
        } else if (arg == "--log") {
            platform::setLogSink(std::make_shared<LineLogSink>());
        } else if (arg.starts_with("-") || !path.empty()) {
            return usage();
        } else {
            path = arg;
        }
    }
    if (path.empty()) {
        return usage();
    }

    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
        std::cerr << "tesvano-engine: cannot read " << path << "\n";
        return kUsageError;
    }
    const auto configuration = decodeConfiguration(text.str());
    if (!configuration) {
        std::cerr << "tesvano-engine: " << path
                  << " is not a valid configuration: " << configuration.error().message << "\n";
        return kUsageError;
    }

    platform::GLibRunLoop loop;
    auto textInput = platform::openSessionTextInputSources(loop, display);
    if (!textInput) {
        std::cerr << "tesvano-engine: " << textInput.error() << "\n";
        return kRuntimeError;
    }
    auto workspace = platform::X11Workspace::open(
        loop, platform::DesktopEntryIndex::scanStandardFolders(), display);
    if (!workspace) {
        std::cerr << "tesvano-engine: " << workspace.error() << "\n";
        return kRuntimeError;
    }
    platform::NoAccessibility noAccessibility;
    platform::SessionBusAssistiveTechnologyStatus assistiveTechnologies;
    std::unique_ptr<platform::AtspiAccessibility> atspi;
    if (useAccessibility) {
        auto opened = platform::AtspiAccessibility::open(loop, assistiveTechnologies);
        if (!opened) {
            std::cerr << "tesvano-engine: " << opened.error() << "\n";
            return kRuntimeError;
        }
        atspi = std::move(*opened);
    }
    platform::Accessibility& accessibility =
        atspi ? static_cast<platform::Accessibility&>(*atspi) : noAccessibility;

    // Signals only write to a pipe; the loop sees it and stops between two events.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::cerr << "tesvano-engine: cannot create a pipe\n";
        return kRuntimeError;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGUSR1, &action, nullptr);
    // A reader that went away ends the run through a failed write, not a signal.
    ::signal(SIGPIPE, SIG_IGN);
    auto signalWatch = loop.watchReadable(signalPipe[0], [&loop] {
        char buffer[16];
        bool quit = false;
        for (ssize_t n; (n = ::read(signalPipe[0], buffer, sizeof buffer)) > 0;) {
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == 'u') {
                    rusage usage{};
                    ::getrusage(RUSAGE_SELF, &usage);
                    quit |= !printLine(OrderedJSON{{"voluntarySwitches", usage.ru_nvcsw}});
                } else {
                    quit = true;
                }
            }
        }
        if (quit) {
            loop.quit();
        }
    });

    LockEngine::Parts parts;
    LockController::SecureInputProbe secureInput;
    if (atspi) {
        parts.urlProvider =
            std::make_unique<AccessibilityBrowserURLReader>(**workspace, accessibility, 4000);
        secureInput = [&atspi] { return atspi->focusedElementIsPasswordField(); };
    }
    LockEngine engine(
        LockEngine::defaultParts(std::move(parts), loop, **textInput, **workspace, accessibility),
        loop, **textInput, secureInput);
    engine.onActivation = [&loop](const ActivationEvent& event) {
        const std::string line = eventLine(event) + "\n";
        if (std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            loop.quit();
        }
    };
    std::string lastSources;
    const auto sourcesLine = [&] {
        OrderedJSON line;
        line["sources"] = OrderedJSON::array();
        for (const auto& source : (*textInput)->sources()) {
            line["sources"].push_back(source.id.value_or(""));
        }
        const auto current = (*textInput)->currentKeyboardSource();
        line["current"] = current && current->id ? OrderedJSON(*current->id) : OrderedJSON(nullptr);
        const std::string out = dumpCompact(line) + "\n";
        if (out != std::exchange(lastSources, out)) {
            std::fputs(out.c_str(), stdout);
            std::fflush(stdout);
        }
    };
    std::vector<platform::Registration> sourceWatches;
    if (printSources) {
        sourceWatches.push_back((*textInput)->onSelectionChanged(sourcesLine));
        sourceWatches.push_back((*textInput)->onEnabledSourcesChanged(sourcesLine));
        loop.post(platform::Seconds(0), sourcesLine);
    }
    // From within the loop: accessibility reads are made only there.
    loop.post(platform::Seconds(0), [&] {
        engine.start();
        engine.apply(*configuration, ActivationReason::startupApplied);
    });
    loop.run();
    engine.stop();
    return 0;
}
