#include "Platform/Updater/Installation.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

extern char** environ;

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

struct Marker {
    std::string previous;
    std::string next;
    int attempts = 0;
};

std::optional<Marker> readMarker(const fs::path& path) {
    std::ifstream in(path);
    Marker m;
    if (!in || !std::getline(in, m.previous) || !std::getline(in, m.next) || !(in >> m.attempts)) {
        return std::nullopt;
    }
    return m;
}

bool writeMarker(const fs::path& path, const Marker& m) {
    const fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << m.previous << '\n' << m.next << '\n' << m.attempts << '\n';
        if (!out.flush()) {
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    return !ec;
}

// A version names one folder: no separators, nothing hidden.
bool isPlainName(const std::string& version) {
    return !version.empty() && version != "." && version != ".." && version.front() != '.' &&
           version.find('/') == std::string::npos && version != "current";
}

std::expected<void, std::string> pointLink(const fs::path& link, const std::string& target) {
    const fs::path temporary = link.string() + ".new-" + std::to_string(::getpid());
    std::error_code ec;
    fs::remove(temporary, ec);
    fs::create_directory_symlink(target, temporary, ec);
    if (ec) {
        return std::unexpected("cannot make the link " + temporary.string() + ": " + ec.message());
    }
    // rename(2) replaces the old link in one step: `current` is never missing.
    fs::rename(temporary, link, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return std::unexpected("cannot switch " + link.string() + ": " + ec.message());
    }
    return {};
}

}  // namespace

fs::path Installation::standardRoot() {
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/") / ".local" / "opt" / "tesvano";
}

std::optional<Installation> Installation::containing(const fs::path& executable) {
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(executable, ec);
    if (ec) {
        return std::nullopt;
    }
    const fs::path bin = real.parent_path();
    const fs::path versionFolder = bin.parent_path();
    const fs::path root = versionFolder.parent_path();
    if (bin.filename() != "bin" || root.empty() || root == versionFolder) {
        return std::nullopt;
    }
    if (!fs::is_symlink(root / "current", ec)) {
        return std::nullopt;
    }
    return Installation(root);
}

fs::path Installation::versionFolder(const std::string& version) const {
    return root_ / version;
}

std::optional<std::string> Installation::currentVersion() const {
    std::error_code ec;
    const fs::path target = fs::read_symlink(currentLink(), ec);
    if (ec || target.has_parent_path()) {
        return std::nullopt;
    }
    return target.string();
}

std::expected<void, std::string> Installation::adopt(const fs::path& unpacked,
                                                     const std::string& version) {
    if (!isPlainName(version)) {
        return std::unexpected("the version \"" + version + "\" cannot name a folder");
    }
    std::error_code ec;
    if (!fs::is_regular_file(unpacked / "bin" / "tesvano", ec)) {
        return std::unexpected(std::string("the archive holds no bin/tesvano"));
    }
    if (currentVersion() == version) {
        return std::unexpected("version " + version + " is the one running");
    }
    const fs::path target = versionFolder(version);
    fs::remove_all(target, ec);
    fs::rename(unpacked, target, ec);
    if (ec) {
        return std::unexpected("cannot move the new version in place: " + ec.message());
    }
    return {};
}

std::expected<void, std::string> Installation::switchTo(const std::string& version,
                                                        const std::string& previous) {
    if (!isPlainName(version)) {
        return std::unexpected("the version \"" + version + "\" cannot name a folder");
    }
    if (!writeMarker(markerPath(), Marker{previous, version, 0})) {
        return std::unexpected("cannot note the switch in " + markerPath().string());
    }
    if (auto switched = pointLink(currentLink(), version); !switched) {
        std::error_code ec;
        fs::remove(markerPath(), ec);
        return switched;
    }
    return {};
}

Installation::StartupVerdict Installation::checkStartup(const std::string& runningVersion) {
    auto marker = readMarker(markerPath());
    std::error_code ec;
    if (!marker) {
        fs::remove(markerPath(), ec);
        return StartupVerdict::nothingPending;
    }
    if (runningVersion != marker->next) {
        if (runningVersion == marker->previous) {
            fs::remove(markerPath(), ec);
        }
        return StartupVerdict::nothingPending;
    }
    if (marker->attempts == 0) {
        marker->attempts = 1;
        writeMarker(markerPath(), *marker);
        return StartupVerdict::probation;
    }
    // The new version started before and never confirmed: back to the one that worked.
    if (!isPlainName(marker->previous) ||
        !fs::is_regular_file(versionFolder(marker->previous) / "bin" / "tesvano", ec) ||
        !pointLink(currentLink(), marker->previous)) {
        return StartupVerdict::probation;
    }
    fs::remove(markerPath(), ec);
    return StartupVerdict::rolledBack;
}

void Installation::confirmStart(const std::string& runningVersion) {
    const auto marker = readMarker(markerPath());
    if (!marker || marker->next != runningVersion) {
        return;
    }
    std::error_code ec;
    if (isPlainName(marker->previous) && marker->previous != runningVersion &&
        currentVersion() == runningVersion) {
        fs::remove_all(versionFolder(marker->previous), ec);
    }
    fs::remove(markerPath(), ec);
}

std::unique_ptr<ArchiveUnpacker> ArchiveUnpacker::start(Runtime& runtime, const fs::path& archive,
                                                        const fs::path& destination, Done done) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string archiveText = archive.string();
    const std::string destinationText = destination.string();
    std::vector<char*> argv = {const_cast<char*>("tar"),
                               const_cast<char*>("-xzf"),
                               const_cast<char*>(archiveText.c_str()),
                               const_cast<char*>("-C"),
                               const_cast<char*>(destinationText.c_str()),
                               const_cast<char*>("--no-same-owner"),
                               nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "tar", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return nullptr;
    }
    std::unique_ptr<ArchiveUnpacker> unpacker(new ArchiveUnpacker());
    unpacker->pid_ = pid;
    unpacker->out_ = pipeFds[0];
    unpacker->done_ = std::move(done);
    ArchiveUnpacker* self = unpacker.get();
    unpacker->watch_ = runtime.watchReadable(pipeFds[0], [self] {
        char buffer[4096];
        const ssize_t n = ::read(self->out_, buffer, sizeof buffer);
        if (n > 0) {
            if (self->output_.size() < 4096) {
                self->output_.append(buffer, static_cast<std::size_t>(n));
            }
            return;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            return;
        }
        self->finish();
    });
    return unpacker;
}

void ArchiveUnpacker::finish() {
    watch_.cancel();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    ::close(out_);
    out_ = -1;
    Done done = std::move(done_);
    done_ = nullptr;
    if (!done) {
        return;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        done({});
    } else {
        std::string why = output_.empty() ? std::string("tar failed") : output_;
        while (!why.empty() && why.back() == '\n') {
            why.pop_back();
        }
        done(std::unexpected(why));
    }
}

ArchiveUnpacker::~ArchiveUnpacker() {
    watch_.cancel();
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (out_ >= 0) {
        ::close(out_);
    }
}

bool spawnRelaunch(const fs::path& executable, pid_t waitFor) {
    const std::string pidText = std::to_string(waitFor);
    const std::string exe = executable.string();
    const char* script = "while kill -0 \"$1\" 2>/dev/null; do sleep 0.1; done; exec \"$2\"";
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        // The grandchild is nobody's child once we are gone: no zombie is left behind.
        ::setsid();
        if (::fork() != 0) {
            ::_exit(0);
        }
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) {
            ::dup2(devnull, STDIN_FILENO);
        }
        ::execl("/bin/sh", "sh", "-c", script, "sh", pidText.c_str(), exe.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tesvano::platform
