#include "Tesvano/App/QuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "Platform/Log/Log.h"

namespace tesvano {

namespace {

int pipeFds[2] = {-1, -1};

// A hang-up (the terminal or the session that started the program went away) ends the
// program as the others do: through its quit, which saves what is unsaved.
constexpr int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void writeSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // Async-signal-safe; a full pipe already holds a pending quit.
    [[maybe_unused]] const auto written = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

void setHandler(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

QuitSignals::QuitSignals(platform::Runtime& runtime, std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        static const platform::Logger log("AppDelegate");
        log.error("Could not set up the quit signals; SIGTERM ends the program unchecked");
        return;
    }
    watch_ = runtime.watchReadable(pipeFds[0], [this] { drain(); });
    for (const int signal : handledSignals) {
        setHandler(signal, writeSignal);
    }
}

QuitSignals::~QuitSignals() {
    if (!watch_.active()) {
        return;
    }
    for (const int signal : handledSignals) {
        setHandler(signal, SIG_DFL);
    }
    watch_.cancel();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void QuitSignals::drain() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1) {
        if (onSignal_) {
            onSignal_(byte);
        }
    }
}

}  // namespace tesvano
