#include "Platform/Updater/StartJudgement.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

// Signals a program gets for its own faults; the others come from outside.
constexpr int faultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};

bool isOwnFault(int signal) noexcept {
    for (const int fault : faultSignals) {
        if (signal == fault) {
            return true;
        }
    }
    return false;
}

// What the handlers need, set up before they can run: they only read it.
struct OwnStartWatch {
    std::atomic<bool> armed{false};
    bool installed = false;
    char note[PATH_MAX] = {};
    char version[160] = {};
    const DisplayProbe* display = nullptr;
    const ThreadSignalStack* mainThreadStack = nullptr;
    struct sigaction previous[std::size(faultSignals)] = {};
};
OwnStartWatch watch;

std::atomic<bool> displayGone{false};
std::atomic<int> displayConnection{-1};

char* appendNumber(char* out, int n) noexcept {
    char digits[16];
    int count = 0;
    unsigned value = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (n < 0) {
        *out++ = '-';
    }
    while (count > 0) {
        *out++ = digits[--count];
    }
    return out;
}

// Async-signal-safe: open, write and close only, on what was prepared beforehand.
void noteOwnEnd(ProcessEnding ending) noexcept {
    if (!watch.armed.exchange(false) || watch.display == nullptr) {
        return;
    }
    if (judgeStartEnd(ending, !displayLost() && watch.display->reachable()) != StartEnd::fault) {
        return;
    }
    char text[sizeof watch.version + 40];
    char* end = text;
    for (const char* c = watch.version; *c != '\0'; ++c) {
        *end++ = *c;
    }
    *end++ = ' ';
    end = appendNumber(end, ending.status);
    *end++ = ' ';
    end = appendNumber(end, ending.signal);
    *end++ = '\n';
    const int fd = ::open(watch.note, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        [[maybe_unused]] const auto written = ::write(fd, text, static_cast<size_t>(end - text));
        ::fsync(fd);
        ::close(fd);
    }
}

void onFaultSignal(int signal) {
    const int saved = errno;
    noteOwnEnd(ProcessEnding{0, signal});
    // Whoever handled it before (or the default action) has it next: raised again, it is
    // delivered once this handler returns.
    for (std::size_t i = 0; i < std::size(faultSignals); ++i) {
        if (faultSignals[i] == signal) {
            ::sigaction(signal, &watch.previous[i], nullptr);
        }
    }
    errno = saved;
    ::raise(signal);
}

void onExit(int status, void*) {
    noteOwnEnd(ProcessEnding{status & 0xff, 0});
}

bool copyInto(char* out, std::size_t size, const std::string& text) {
    if (text.size() >= size || text.find('\0') != std::string::npos) {
        return false;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

ProcessEnding ProcessEnding::fromWaitStatus(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) {
        return ProcessEnding{0, WTERMSIG(waitStatus)};
    }
    return ProcessEnding{WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 0, 0};
}

std::string ProcessEnding::describe() const {
    return signal != 0 ? "was ended by signal " + std::to_string(signal)
                       : "ended with status " + std::to_string(status);
}

StartEnd judgeStartEnd(ProcessEnding ending, bool displayThere) noexcept {
    if (ending.signal == 0 && ending.status == 0) {
        return StartEnd::clean;
    }
    if (ending.signal != 0 && !isOwnFault(ending.signal)) {
        return StartEnd::fromOutside;
    }
    // A program whose display went away ends however it ends; the session did that.
    return displayThere ? StartEnd::fault : StartEnd::fromOutside;
}

DisplayProbe::DisplayProbe() {
    const char* display = std::getenv("DISPLAY");
    const std::string name = display != nullptr ? display : "";
    const auto colon = name.rfind(':');
    if (colon == std::string::npos) {
        return;
    }
    const std::string host = name.substr(0, colon);
    const int number = std::atoi(name.c_str() + colon + 1);
    if (host.empty() || host == "unix" || host.ends_with("/unix")) {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        // The abstract name the server also listens on, then the file.
        for (const std::size_t offset : {std::size_t{1}, std::size_t{0}}) {
            Address a;
            auto* address = reinterpret_cast<sockaddr_un*>(&a.address);
            address->sun_family = AF_UNIX;
            if (offset + path.size() > sizeof address->sun_path) {
                continue;
            }
            std::memcpy(address->sun_path + offset, path.c_str(), path.size());
            a.length =
                static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
            a.family = AF_UNIX;
            a.type = SOCK_STREAM;
            addresses_.push_back(a);
        }
        return;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(6000 + number).c_str(), &hints, &found) != 0) {
        return;
    }
    for (addrinfo* i = found; i != nullptr; i = i->ai_next) {
        if (i->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        Address a;
        std::memcpy(&a.address, i->ai_addr, i->ai_addrlen);
        a.length = i->ai_addrlen;
        a.family = i->ai_family;
        a.type = i->ai_socktype;
        a.protocol = i->ai_protocol;
        addresses_.push_back(a);
    }
    ::freeaddrinfo(found);
}

bool DisplayProbe::reachable() const noexcept {
    for (const Address& a : addresses_) {
        const int fd = ::socket(a.family, a.type | SOCK_CLOEXEC, a.protocol);
        if (fd < 0) {
            continue;
        }
        const bool connected =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length) == 0;
        ::close(fd);
        if (connected) {
            return true;
        }
    }
    return false;
}

bool displayReachable() {
    return DisplayProbe().reachable();
}

void noteDisplayLost() noexcept {
    displayGone = true;
}

void watchDisplayConnection(int fd) noexcept {
    displayConnection = fd;
}

bool displayLost() noexcept {
    if (displayGone) {
        return true;
    }
    pollfd connection{displayConnection, POLLRDHUP, 0};
    if (connection.fd < 0) {
        return false;
    }
    int ready = 0;
    while ((ready = ::poll(&connection, 1, 0)) < 0 && errno == EINTR) {
    }
    // What the server sent before it hung up may still be unread: the hang-up is what counts.
    return ready > 0 && (connection.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

ThreadSignalStack::ThreadSignalStack() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) {
        return;
    }
    std::size_t size = 64 * 1024;
#ifdef _SC_SIGSTKSZ
    // What this processor's signal frames need (large register files) may be more.
    size = std::max(size, static_cast<std::size_t>(std::max(0L, ::sysconf(_SC_SIGSTKSZ))));
#endif
    stack_.reset(new char[size]);
    stack_t own{};
    own.ss_sp = stack_.get();
    own.ss_size = size;
    if (::sigaltstack(&own, nullptr) != 0) {
        stack_.reset();
    }
}

ThreadSignalStack::~ThreadSignalStack() {
    if (stack_) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
    }
}

void watchOwnStart(const fs::path& faultNote, const std::string& version) {
    if (watch.installed || !copyInto(watch.note, sizeof watch.note, faultNote.string()) ||
        !copyInto(watch.version, sizeof watch.version, version)) {
        return;
    }
    watch.installed = true;
    // Lives as long as the process: the handlers may need it at its very end.
    watch.display = new DisplayProbe();
    // A stack overflow leaves no stack to handle it on. The program's other threads make
    // their own (ThreadSignalStack).
    watch.mainThreadStack = new ThreadSignalStack();
    struct sigaction action {};
    action.sa_handler = onFaultSignal;
    action.sa_flags = SA_ONSTACK;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(faultSignals); ++i) {
        ::sigaction(faultSignals[i], &action, &watch.previous[i]);
    }
    ::on_exit(onExit, nullptr);
    watch.armed = true;
}

void stopWatchingOwnStart(const std::string& version) {
    if (watch.installed && version == watch.version) {
        watch.armed = false;
    }
}

std::optional<FaultNote> readFaultNote(const fs::path& faultNote) {
    std::ifstream in(faultNote);
    FaultNote note;
    if (!(in >> note.version >> note.ending.status >> note.ending.signal)) {
        return std::nullopt;
    }
    return note;
}

}  // namespace tesvano::platform
