#include "tests/support/PrivateSession.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "tests/support/ChildProcess.h"

namespace tesvano::test {

std::expected<std::unique_ptr<DesktopSession>, std::string> DesktopSession::start(
    const std::vector<std::string>& environment) {
    std::unique_ptr<DesktopSession> session(new DesktopSession());
    auto server = XvfbServer::start(std::chrono::seconds(10), "1280x800x24");
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
        "XDG_CONFIG_HOME=" + (home / ".config").string(),
        "XDG_DATA_HOME=" + (home / ".local/share").string(),
        "XDG_CACHE_HOME=" + (home / ".cache").string(),
        "XDG_RUNTIME_DIR=" + (home / "runtime").string(),
        "XDG_SESSION_TYPE=x11",
        // Nothing of the caller's desktop leaks in.
        "WAYLAND_DISPLAY=",
    };
    session->environment_.insert(session->environment_.end(), environment.begin(),
                                 environment.end());
    // Services the buses start (dconf above all) live in the session too.
    auto sessionBus = SessionBus::start(session->environment_);
    auto systemBus = SessionBus::start(session->environment_);
    if (!sessionBus || !systemBus) {
        return std::unexpected(!sessionBus ? sessionBus.error() : systemBus.error());
    }
    session->sessionBus_ = std::move(*sessionBus);
    session->systemBus_ = std::move(*systemBus);
    session->environment_.push_back("DBUS_SESSION_BUS_ADDRESS=" + session->sessionBusAddress());
    session->environment_.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + session->systemBus_->address());
    return session;
}

DesktopSession::~DesktopSession() {
    stopPrograms();
}

std::vector<std::string> DesktopSession::environment(const std::vector<std::string>& extra) const {
    auto out = environment_;
    for (const auto& entry : extra) {
        const auto name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(out, [&name](const std::string& e) { return e.starts_with(name); });
        out.push_back(entry);
    }
    return out;
}

bool DesktopSession::run(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout) const {
    return runQuietly(argv, timeout, environment_);
}

std::optional<std::string> DesktopSession::output(const std::vector<std::string>& argv,
                                                  std::chrono::milliseconds timeout) const {
    auto result = runProgram(argv, timeout, environment_, ReadStream::standardOutput);
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    return std::move(result.standardOutput);
}

std::expected<ProcessGroup*, std::string> DesktopSession::launch(
    const std::vector<std::string>& argv, int outputFd) {
    auto started = ProcessGroup::start(argv, environment_, outputFd);
    if (!started) {
        return std::unexpected(started.error());
    }
    programs_.push_back(std::move(*started));
    return programs_.back().get();
}

void DesktopSession::stopPrograms() {
    while (!programs_.empty()) {
        programs_.back()->stop();
        programs_.pop_back();
    }
}

std::expected<void, std::string> programsInstalled(const std::vector<std::string>& programs) {
    const char* path = std::getenv("PATH");
    const std::string_view dirs = path ? path : "/usr/bin:/bin";
    for (const auto& program : programs) {
        bool found = false;
        for (std::size_t start = 0; !found && start <= dirs.size();) {
            const auto end = std::min(dirs.find(':', start), dirs.size());
            const auto candidate = std::filesystem::path(dirs.substr(start, end - start)) / program;
            found = ::access(candidate.c_str(), X_OK) == 0;
            start = end + 1;
        }
        if (!found) {
            return std::unexpected(program + " is not installed");
        }
    }
    return {};
}

}  // namespace tesvano::test
