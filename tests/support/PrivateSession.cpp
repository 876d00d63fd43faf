#include "tests/support/PrivateSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>

namespace tesvano::test {

namespace {

std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Running, as opposed to gone or a zombie waiting for its parent.
bool running(pid_t pid) {
    const std::string stat = readWhole("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

}  // namespace

std::vector<SessionProcess> processesWithEnvironment(const std::vector<std::string>& entries) {
    std::vector<SessionProcess> out;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() ||
            !std::ranges::all_of(name, [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const pid_t pid = std::stoi(name);
        if (pid == ::getpid()) {
            continue;
        }
        // NUL-separated; unreadable (another user's, or gone) reads as empty.
        const std::string environ = readWhole(entry.path() / "environ");
        bool matches = false;
        for (std::size_t start = 0; start < environ.size() && !matches;) {
            const auto end = std::min(environ.find('\0', start), environ.size());
            matches =
                std::ranges::find(entries, environ.substr(start, end - start)) != entries.end();
            start = end + 1;
        }
        if (!matches || !running(pid)) {
            continue;
        }
        std::string commandLine = readWhole(entry.path() / "cmdline");
        std::ranges::replace(commandLine, '\0', ' ');
        while (!commandLine.empty() && commandLine.back() == ' ') {
            commandLine.pop_back();
        }
        out.push_back({pid, std::move(commandLine)});
    }
    return out;
}

void endProcesses(const std::vector<SessionProcess>& processes, std::chrono::milliseconds grace) {
    for (const auto& process : processes) {
        ::kill(process.pid, SIGTERM);
    }
    const auto anyRunning = [&processes] {
        return std::ranges::any_of(processes, [](const auto& p) { return running(p.pid); });
    };
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (anyRunning() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (const auto& process : processes) {
        if (running(process.pid)) {
            ::kill(process.pid, SIGKILL);
        }
    }
}

std::expected<std::unique_ptr<ProcessGroup>, std::string> SessionBus::launch(
    const std::vector<std::string>& argv, const std::vector<std::string>& environment,
    std::string& address) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return std::unexpected("cannot create a pipe");
    }
    auto daemon = ProcessGroup::start(argv, environment, fds[1]);
    ::close(fds[1]);
    if (!daemon) {
        ::close(fds[0]);
        return std::unexpected(daemon.error());
    }
    std::string printed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (printed.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[512];
        const auto n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        printed.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (printed.find('\n') == std::string::npos) {
        return std::unexpected("the session bus did not tell its address");
    }
    address = printed.substr(0, printed.find('\n'));
    return daemon;
}

std::expected<std::unique_ptr<SessionBus>, std::string> SessionBus::start(
    const std::vector<std::string>& environment, const std::string& configFile) {
    auto bus = std::make_unique<SessionBus>();
    bus->configuration_ = configFile.empty() ? "--session" : "--config-file=" + configFile;
    auto daemon =
        launch({"dbus-daemon", bus->configuration_, "--nofork", "--nopidfile", "--print-address=1"},
               environment, bus->address_);
    if (!daemon) {
        return std::unexpected(daemon.error());
    }
    bus->daemon_ = std::move(*daemon);
    bus->environment_ = environment;
    return bus;
}

void SessionBus::stop() {
    if (daemon_) {
        ::kill(-daemon_->pid(), SIGKILL);
        daemon_.reset();
    }
}

std::expected<void, std::string> SessionBus::restart() {
    stop();
    // The socket's place without the old daemon's guid, which the new one replaces.
    const std::string listen = address_.substr(0, address_.find(",guid="));
    auto daemon = launch({"dbus-daemon", configuration_, "--nofork", "--nopidfile",
                          "--address=" + listen, "--print-address=1"},
                         environment_, address_);
    if (!daemon) {
        return std::unexpected(daemon.error());
    }
    daemon_ = std::move(*daemon);
    return {};
}

std::expected<std::unique_ptr<PrivateSession>, std::string> PrivateSession::start(
    const SessionOptions& options) {
    std::unique_ptr<PrivateSession> session(new PrivateSession());
    auto server = XvfbServer::start(std::chrono::seconds(10), options.screen);
    if (!server) {
        return std::unexpected(server.error());
    }
    session->server_ = std::move(*server);
    const auto& home = session->home();
    for (const char* folder : {".config", ".local/share", ".cache", "runtime"}) {
        std::filesystem::create_directories(home / folder);
    }
    std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    session->environment_ = {
        "DISPLAY=" + session->display(),
        "HOME=" + home.string(),
        "XDG_CONFIG_HOME=" + session->configHome().string(),
        "XDG_DATA_HOME=" + session->dataHome().string(),
        "XDG_CACHE_HOME=" + (home / ".cache").string(),
        "XDG_RUNTIME_DIR=" + (home / "runtime").string(),
        "XDG_SESSION_TYPE=x11",
        // Nothing of the caller's desktop leaks in.
        "WAYLAND_DISPLAY=",
    };
    session->environment_.insert(session->environment_.end(), options.environment.begin(),
                                 options.environment.end());
    // Services the buses start (dconf above all) live in the session too.
    auto sessionBus = SessionBus::start(session->environment_);
    if (!sessionBus) {
        return std::unexpected(sessionBus.error());
    }
    session->sessionBus_ = std::move(*sessionBus);
    if (options.systemBus) {
        auto systemBus = SessionBus::start(session->environment_);
        if (!systemBus) {
            return std::unexpected(systemBus.error());
        }
        session->systemBus_ = std::move(*systemBus);
        session->environment_.push_back("DBUS_SYSTEM_BUS_ADDRESS=" +
                                        session->systemBus_->address());
    }
    session->environment_.push_back("DBUS_SESSION_BUS_ADDRESS=" + session->sessionBusAddress());
    return session;
}

PrivateSession::~PrivateSession() {
    stopPrograms();
    endSessionProcesses();
}

void PrivateSession::endSessionProcesses() {
    std::vector<std::string> marks{"HOME=" + home().string(),
                                   "XDG_RUNTIME_DIR=" + (home() / "runtime").string()};
    if (sessionBus_) {
        marks.push_back("DBUS_SESSION_BUS_ADDRESS=" + sessionBus_->address());
    }
    endProcesses(processesWithEnvironment(marks));
}

std::vector<std::string> PrivateSession::environment(const std::vector<std::string>& extra) const {
    auto out = environment_;
    for (const auto& entry : extra) {
        const auto name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(out, [&name](const std::string& e) { return e.starts_with(name); });
        out.push_back(entry);
    }
    return out;
}

void PrivateSession::adoptEnvironment() const {
    for (const auto& entry : environment_) {
        const auto equals = entry.find('=');
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
}

bool PrivateSession::run(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout) const {
    return runQuietly(argv, timeout, environment_);
}

std::optional<std::string> PrivateSession::output(const std::vector<std::string>& argv,
                                                  std::chrono::milliseconds timeout) const {
    auto result = runProgram(argv, timeout, environment_, ReadStream::standardOutput);
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    auto& text = result.standardOutput;
    text.erase(text.find_last_not_of("\n ") + 1);
    return std::move(text);
}

std::expected<ProcessGroup*, std::string> PrivateSession::launch(
    const std::vector<std::string>& argv, int outputFd) {
    auto started = ProcessGroup::start(argv, environment_, outputFd);
    if (!started) {
        return std::unexpected(started.error());
    }
    programs_.push_back(std::move(*started));
    return programs_.back().get();
}

std::expected<ProcessGroup*, std::string> PrivateSession::startWindowManager(
    const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    auto started = launch(argv);
    if (started && !windowManagerRuns(display(), timeout)) {
        return std::unexpected(argv.front() + " did not start managing windows");
    }
    return started;
}

void PrivateSession::stopPrograms() {
    while (!programs_.empty()) {
        programs_.back()->stop();
        programs_.pop_back();
    }
}

}  // namespace tesvano::test
