#pragma once

#include <sys/socket.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tesvano::platform {

// How a process ended: the status it exited with, or the signal that ended it.
struct ProcessEnding {
    int status = 0;
    int signal = 0;  // 0: it exited

    static ProcessEnding fromWaitStatus(int waitStatus);
    // "ended with status 3", "was ended by signal 6"
    std::string describe() const;
    bool operator==(const ProcessEnding&) const = default;
};

// What the end of a start that had not yet confirmed says about the new version. One judgement
// for both who see such an end: the relaunch step, which sees its child end, and the version
// itself, which notes its own end when nothing watches it (a start from the desktop, or a
// relaunch step that is gone).
enum class StartEnd {
    clean,        // status 0: it was quit, or handed its launch to a copy that already runs
    fault,        // a non-zero status, or a signal of its own doing (a crash, an abort)
    fromOutside,  // killed or ended by someone else (SIGKILL, SIGTERM, SIGHUP…), or its display
                  // went away (the session ended): it says nothing about the version
};
// Async-signal-safe.
StartEnd judgeStartEnd(ProcessEnding ending, bool displayThere) noexcept;

// Whether the X display named by DISPLAY still takes connections. Made once (it reads DISPLAY
// and looks up its address); `reachable` is then async-signal-safe.
class DisplayProbe {
public:
    DisplayProbe();
    bool reachable() const noexcept;

private:
    struct Address {
        sockaddr_storage address{};
        socklen_t length = 0;
        int family = 0;
        int type = 0;
        int protocol = 0;
    };
    std::vector<Address> addresses_;
};

bool displayReachable();

// The X display went away under this process: Qt and Xlib end it with exit(1) when their
// connection breaks, and the end that follows is the session's, however it comes. Known from
// the connection itself, never from a later connect (a server that shuts down still takes
// connections for a while): an Xlib I/O error handler calls noteDisplayLost, and
// watchDisplayConnection names the descriptor of a connection (Qt's) whose hang-up by the
// server says the same; -1 forgets it before it is closed. Async-signal-safe.
void noteDisplayLost() noexcept;
void watchDisplayConnection(int fd) noexcept;
bool displayLost() noexcept;

// A stack of its own for the fault handlers on the thread that makes this, for as long as it
// lives, so that a stack overflow on that thread is noted too: each thread needs its own, and
// watchOwnStart gives one to the main thread only. Nothing when the thread has one already.
class ThreadSignalStack {
public:
    ThreadSignalStack();
    ~ThreadSignalStack();
    ThreadSignalStack(const ThreadSignalStack&) = delete;
    ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

private:
    std::unique_ptr<char[]> stack_;
};

// While a start of `version` waits to be confirmed, this process notes its own end when that
// end is a fault by judgeStartEnd (a crash or abort, through a signal handler on an alternate
// stack; a non-zero exit status): the note is `faultNote`, which the version's next start reads
// to roll back. An end from outside, or after the display was lost, notes nothing. Until
// stopWatchingOwnStart; once per process.
void watchOwnStart(const std::filesystem::path& faultNote, const std::string& version);
void stopWatchingOwnStart(const std::string& version);

// The version and the end a note names; none without a readable note.
struct FaultNote {
    std::string version;
    ProcessEnding ending;
};
std::optional<FaultNote> readFaultNote(const std::filesystem::path& faultNote);

}  // namespace tesvano::platform
