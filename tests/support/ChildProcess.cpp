#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

extern char** environ;

namespace tesvano::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

// Waits for the child to end, at most `timeout`; answers its wait status when it did. A signal
// that interrupts the wait does not end it, nor does a system that refuses pidfds (older
// container profiles): there the child is looked at every few milliseconds.
std::optional<int> reap(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    std::optional<int> reaped;
    for (;;) {
        pollfd p{pidfd, POLLIN, 0};
        ::poll(pidfd >= 0 ? &p : nullptr, pidfd >= 0 ? 1 : 0,
               pidfd >= 0 ? remainingMs(deadline) : std::min(remainingMs(deadline), 10));
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            reaped = status;
        }
        if (done != 0 || remainingMs(deadline) == 0) {
            break;
        }
    }
    if (pidfd >= 0) {
        ::close(pidfd);
    }
    return reaped;
}

std::optional<int> exitCodeOf(int status) {
    return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

std::optional<int> stopProcess(pid_t pid, std::chrono::milliseconds timeout) {
    ::kill(pid, SIGTERM);
    if (auto status = reap(pid, timeout)) {
        return exitCodeOf(*status);
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return std::nullopt;
}

}  // namespace

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const auto name = entry.substr(0, entry.find('='));
        const bool replaced = std::ranges::any_of(extra, [&](const std::string& x) {
            return x.size() > name.size() && x.starts_with(name) && x[name.size()] == '=';
        });
        if (!replaced) {
            out.emplace_back(entry);
        }
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

std::optional<int> terminateAndReap(pid_t pid, std::chrono::milliseconds timeout) {
    return stopProcess(pid, timeout);
}

std::string programPath(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const auto candidate = std::filesystem::path(dirs.substr(0, colon)) / program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    }
    return {};
}

std::expected<void, std::string> programsInstalled(const std::vector<std::string>& programs) {
    for (const auto& program : programs) {
        if (programPath(program).empty()) {
            return std::unexpected(program + " is not installed");
        }
    }
    return {};
}

std::expected<std::unique_ptr<ProcessGroup>, std::string> ProcessGroup::start(
    const std::vector<std::string>& argv, const std::vector<std::string>& environment,
    int outputFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    auto args = argv;
    auto env = mergedEnvironment(environment);
    auto argp = pointers(args);
    auto envp = pointers(env);
    pid_t pid = -1;
    const int failed =
        ::posix_spawnp(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        return std::unexpected("cannot start " + argv[0] + ": " + std::strerror(failed));
    }
    return std::unique_ptr<ProcessGroup>(new ProcessGroup(pid));
}

ProcessGroup::~ProcessGroup() {
    stop();
}

void ProcessGroup::stop(std::chrono::milliseconds grace) {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    ::kill(-pid_, SIGTERM);
    if (!reap(pid_, grace)) {
        ::kill(-pid_, SIGKILL);
        reap(pid_, std::chrono::seconds(5));
    }
    // Helpers of the leader that outlived it.
    ::kill(-pid_, SIGKILL);
}

StandInProcess::StandInProcess() {
    std::vector<std::string> args = {"sleep", "600"};
    auto argv = pointers(args);
    if (::posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
    }
}

StandInProcess::~StandInProcess() {
    if (pid_ > 0) {
        stopProcess(pid_, std::chrono::seconds(5));
    }
}

std::expected<std::unique_ptr<JSONLineProcess>, std::string> JSONLineProcess::start(
    const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    if (argv.empty()) {
        return std::unexpected("no program");
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return std::unexpected("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    auto args = argv;
    auto env = mergedEnvironment(environment);
    auto argp = pointers(args);
    auto envp = pointers(env);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return std::unexpected("cannot start " + argv[0] + ": " + std::strerror(spawned));
    }
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    return std::unique_ptr<JSONLineProcess>(new JSONLineProcess(pid, fds[0]));
}

JSONLineProcess::~JSONLineProcess() {
    stop();
    ::close(out_);
}

void JSONLineProcess::readAvailable() {
    char chunk[4096];
    while (!ended_) {
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            ended_ = n == 0 || errno != EAGAIN;
            break;
        }
    }
    std::size_t start = 0;
    for (auto end = buffer_.find('\n'); end != std::string::npos; end = buffer_.find('\n', start)) {
        lines_.push_back(JSON::parse(buffer_.substr(start, end - start), nullptr, false));
        start = end + 1;
    }
    buffer_.erase(0, start);
}

std::vector<JSONLineProcess::JSON> JSONLineProcess::takeLines() {
    readAvailable();
    return std::exchange(lines_, {});
}

std::optional<JSONLineProcess::JSON> JSONLineProcess::nextLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        readAvailable();
        if (!lines_.empty()) {
            JSON line = std::move(lines_.front());
            lines_.erase(lines_.begin());
            return line;
        }
        const int left = remainingMs(deadline);
        if (ended_ || left == 0) {
            return std::nullopt;
        }
        pollfd p{out_, POLLIN, 0};
        ::poll(&p, 1, left);
    }
}

std::optional<JSONLineProcess::JSON> JSONLineProcess::awaitLine(
    const std::function<bool(const JSON&)>& match, std::chrono::milliseconds timeout,
    const std::function<void(const JSON&)>& seen) {
    const auto deadline = Clock::now() + timeout;
    for (int left = remainingMs(deadline); left > 0; left = remainingMs(deadline)) {
        auto line = nextLine(std::chrono::milliseconds(left));
        if (!line) {
            break;
        }
        if (seen) {
            seen(*line);
        }
        if (line->is_object() && match(*line)) {
            return line;
        }
    }
    return std::nullopt;
}

std::vector<JSONLineProcess::JSON> JSONLineProcess::linesWithin(
    std::chrono::milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    for (int left = remainingMs(deadline); left > 0; left = remainingMs(deadline)) {
        readAvailable();
        pollfd p{out_, POLLIN, 0};
        // Once the output has ended there is nothing to wait for but the time.
        ::poll(ended_ ? nullptr : &p, ended_ ? 0 : 1, left);
    }
    return takeLines();
}

std::optional<int> JSONLineProcess::stop(std::chrono::milliseconds timeout) {
    if (reaped_) {
        return std::nullopt;
    }
    reaped_ = true;
    return stopProcess(pid_, timeout);
}

std::string field(const JSONLineProcess::JSON& line, const char* name) {
    const auto value = line.is_object() ? line.value(name, JSONLineProcess::JSON()) : nullptr;
    return value.is_string() ? value.get<std::string>() : "-";
}

std::string summary(const std::optional<JSONLineProcess::JSON>& activation) {
    if (!activation) {
        return "(no event)";
    }
    if (!activation->is_object()) {
        return "(not JSON)";
    }
    return field(*activation, "inputSource") + " " + field(*activation, "reason") + " " +
           field(*activation, "triggeringBundleID") + " " + field(*activation, "ruleSource");
}

ProgramResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::vector<std::string>& environment, ReadStream read) {
    ProgramResult result;
    int fds[2];
    if (argv.empty() || ::pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    const bool readsOutput = read == ReadStream::standardOutput;
    std::string& text = readsOutput ? result.standardOutput : result.standardError;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, fds[1],
                                       readsOutput ? STDOUT_FILENO : STDERR_FILENO);
    if (readsOutput) {
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    auto args = argv;
    auto argp = pointers(args);
    auto env = mergedEnvironment(environment);
    auto envp = pointers(env);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return result;
    }
    const auto deadline = Clock::now() + timeout;
    char chunk[4096];
    for (int left = remainingMs(deadline); left > 0; left = remainingMs(deadline)) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, left) <= 0) {
            break;
        }
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (auto status = reap(pid, std::chrono::milliseconds(remainingMs(deadline)))) {
        result.exitCode = exitCodeOf(*status);
    } else {
        stopProcess(pid, std::chrono::seconds(1));
    }
    return result;
}

bool runQuietly(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                const std::vector<std::string>& environment) {
    return runProgram(argv, timeout, environment, ReadStream::standardOutput).exitCode == 0;
}

}  // namespace tesvano::test
