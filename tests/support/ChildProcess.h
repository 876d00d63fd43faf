#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tesvano::test {

// Our environment with `extra` entries ("NAME=value") added, replacing same-named ones.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra);
// The null-terminated pointer list execve and posix_spawn take; valid while `strings` lives.
std::vector<char*> pointers(std::vector<std::string>& strings);

// Sends SIGTERM, waits at most `timeout` for the process to end, then kills it. Answers the
// exit code, or none when it did not exit on its own.
std::optional<int> terminateAndReap(pid_t pid,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The program's file: `program` itself when it is a path, else the first on PATH; empty when
// there is none.
std::string programPath(const std::string& program);
// Whether every program is installed; the first missing one otherwise.
std::expected<void, std::string> programsInstalled(const std::vector<std::string>& programs);

// A process that stands for another application, so that a window can carry a pid of its own.
class StandInProcess {
public:
    StandInProcess();
    ~StandInProcess();
    StandInProcess(const StandInProcess&) = delete;
    StandInProcess& operator=(const StandInProcess&) = delete;

    // -1 when it could not be started.
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// A process group of our own (a browser and its helpers, a window manager, a bus): stopped
// with SIGTERM to the whole group, then SIGKILL after a short wait, when the object goes.
class ProcessGroup {
public:
    // `environment` entries ("NAME=value") replace or add to ours. Standard output goes to
    // `outputFd` when given (the child gets a copy), else to /dev/null like standard error.
    static std::expected<std::unique_ptr<ProcessGroup>, std::string> start(
        const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
        int outputFd = -1);
    ~ProcessGroup();
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;
    pid_t pid() const { return pid_; }
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(3));

private:
    explicit ProcessGroup(pid_t pid) : pid_(pid) {}
    pid_t pid_;
    bool stopped_ = false;
};

// A program run as a child whose standard output is read line by line as JSON; its standard
// error goes where ours goes. Stopped with SIGTERM when the object goes.
class JSONLineProcess {
public:
    using JSON = nlohmann::ordered_json;

    // `environment` entries ("NAME=value") are added to ours, replacing same-named ones.
    static std::expected<std::unique_ptr<JSONLineProcess>, std::string> start(
        const std::vector<std::string>& argv, const std::vector<std::string>& environment = {});
    ~JSONLineProcess();
    JSONLineProcess(const JSONLineProcess&) = delete;
    JSONLineProcess& operator=(const JSONLineProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The read end of its standard output, for callers that poll several things at once.
    int outputFd() const { return out_; }

    // Every complete line available now, without waiting. A line that is no JSON comes as a
    // discarded value.
    std::vector<JSON> takeLines();
    // The next line, waiting at most `timeout`; none when none came or the output ended.
    std::optional<JSON> nextLine(std::chrono::milliseconds timeout);
    // Reads lines until one that `match` takes (a line that is no JSON never does), waiting at
    // most `timeout` in all; each line read goes to `seen` first. None when none matched.
    std::optional<JSON> awaitLine(const std::function<bool(const JSON&)>& match,
                                  std::chrono::milliseconds timeout,
                                  const std::function<void(const JSON&)>& seen = {});
    // Every line that arrives within `duration` (always waits the whole of it).
    std::vector<JSON> linesWithin(std::chrono::milliseconds duration);
    // True once the output has ended (the process closed it or exited).
    bool outputEnded() const { return ended_; }

    // SIGTERM and wait; the exit code, or none when it had to be killed or was killed by a
    // signal.
    std::optional<int> stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    JSONLineProcess(pid_t pid, int out) : pid_(pid), out_(out) {}
    // Reads what is available without waiting.
    void readAvailable();

    pid_t pid_;
    int out_;
    bool ended_ = false;
    bool reaped_ = false;
    std::string buffer_;
    std::vector<JSON> lines_;
};

// A field of a line of the engine tool; "-" where it is absent or not a string.
std::string field(const JSONLineProcess::JSON& line, const char* name);
// "source reason application rule" of an activation the engine tool printed, for comparing
// and for messages; what came instead when it is none.
std::string summary(const std::optional<JSONLineProcess::JSON>& activation);

// Runs a program to its end (at most `timeout`), with `environment` entries ("NAME=value")
// added to ours; its exit code (none when it did not end or was killed) and what it wrote to
// the stream read: standard error (its standard output goes where ours goes), or standard
// output (its standard error is dropped, as for a query that may fail while it is retried).
enum class ReadStream { standardError, standardOutput };
struct ProgramResult {
    std::optional<int> exitCode;
    std::string standardError;
    std::string standardOutput;
};
ProgramResult runProgram(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10),
                         const std::vector<std::string>& environment = {},
                         ReadStream read = ReadStream::standardError);

// Runs a program to its end, at most `timeout`, its output dropped; true when it exited with 0.
bool runQuietly(const std::vector<std::string>& argv,
                std::chrono::milliseconds timeout = std::chrono::seconds(10),
                const std::vector<std::string>& environment = {});

}  // namespace tesvano::test
