#include "Platform/Updater/Installation.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

// Replaces a small file in one rename: a reader sees the old content or the new.
bool writeAtomically(const fs::path& path, const std::string& text) {
    const fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        if (!(out << text) || !out.flush()) {
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    return !ec;
}

bool writeMarker(const fs::path& path, const Marker& m) {
    return writeAtomically(path,
                           m.previous + '\n' + m.next + '\n' + std::to_string(m.attempts) + '\n');
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

std::set<std::string> readLines(const fs::path& path) {
    std::set<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (Installation::isPlainVersion(line)) {
            lines.insert(line);
        }
    }
    return lines;
}

bool writeLines(const fs::path& path, const std::set<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + '\n';
    }
    return writeAtomically(path, text);
}

bool isStandardRoot(const fs::path& root) {
    const auto standard = Installation::standardRoot();
    std::error_code ec;
    return standard && fs::equivalent(*standard, root, ec);
}

}  // namespace

std::optional<fs::path> Installation::standardRoot() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home != '/') {
        return std::nullopt;
    }
    return fs::path(home) / ".local" / "opt" / "tesvano";
}

bool Installation::isPlainVersion(std::string_view version) {
    if (version.empty() || version.size() > 128 || version.front() == '.' || version == "current") {
        return false;
    }
    return std::all_of(version.begin(), version.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '+' || c == '-';
    });
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
    if (bin.filename() != "bin" || root.empty() || root == versionFolder ||
        !isPlainVersion(versionFolder.filename().string())) {
        return std::nullopt;
    }
    if (!fs::is_symlink(root / "current", ec)) {
        return std::nullopt;
    }
    const auto record = fs::symlink_status(root / recordName, ec);
    if (!isStandardRoot(root) && !fs::is_regular_file(record)) {
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

std::set<std::string> Installation::recordedVersions() const {
    return readLines(root_ / recordName);
}

std::set<std::string> Installation::failedVersions() const {
    return readLines(failedPath());
}

std::expected<void, std::string> Installation::adopt(const fs::path& unpacked,
                                                     const std::string& version) {
    if (!isPlainVersion(version)) {
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
    if (fs::exists(fs::symlink_status(target, ec))) {
        if (!recordedVersions().contains(version)) {
            return std::unexpected(target.string() + " exists and was not put there by Tesvano");
        }
        fs::remove_all(target, ec);
    }
    auto versions = recordedVersions();
    versions.insert(version);
    if (!writeLines(root_ / recordName, versions)) {
        return std::unexpected("cannot note the new version in " + (root_ / recordName).string());
    }
    fs::rename(unpacked, target, ec);
    if (ec) {
        return std::unexpected("cannot move the new version in place: " + ec.message());
    }
    return {};
}

void Installation::discard(const std::string& version) {
    auto versions = recordedVersions();
    if (!isPlainVersion(version) || !versions.contains(version) || currentVersion() == version) {
        return;
    }
    std::error_code ec;
    fs::remove_all(versionFolder(version), ec);
    if (!ec) {
        versions.erase(version);
        writeLines(root_ / recordName, versions);
    }
}

std::expected<void, std::string> Installation::switchTo(const std::string& version,
                                                        const std::string& previous) {
    if (!isPlainVersion(version)) {
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
    // The relaunch step counts the starts and switches back; the new version only confirms.
    return StartupVerdict::probation;
}

void Installation::confirmStart(const std::string& runningVersion) {
    const auto marker = readMarker(markerPath());
    if (!marker || marker->next != runningVersion) {
        return;
    }
    std::error_code ec;
    fs::remove(markerPath(), ec);
    if (marker->previous != runningVersion && currentVersion() == runningVersion) {
        discard(marker->previous);
    }
}

std::optional<std::string> Installation::pendingVersion() const {
    const auto marker = readMarker(markerPath());
    return marker ? std::optional<std::string>(marker->next) : std::nullopt;
}

int Installation::countAttempt() {
    auto marker = readMarker(markerPath());
    if (!marker) {
        return 0;
    }
    ++marker->attempts;
    writeMarker(markerPath(), *marker);
    return marker->attempts;
}

std::expected<std::string, std::string> Installation::rollBack(const std::string& why) {
    const auto marker = readMarker(markerPath());
    if (!marker) {
        return std::unexpected(std::string("no switch is pending"));
    }
    std::error_code ec;
    if (!isPlainVersion(marker->previous) ||
        !fs::is_regular_file(versionFolder(marker->previous) / "bin" / "tesvano", ec)) {
        return std::unexpected("the previous version " + marker->previous + " is gone");
    }
    if (auto switched = pointLink(currentLink(), marker->previous); !switched) {
        return std::unexpected(switched.error());
    }
    auto failed = failedVersions();
    if (isPlainVersion(marker->next)) {
        failed.insert(marker->next);
        writeLines(failedPath(), failed);
        std::ofstream(root_ / "failed-versions.log", std::ios::app)
            << marker->next << ": " << why << '\n';
    }
    fs::remove(markerPath(), ec);
    discard(marker->next);
    return marker->previous;
}

void Installation::sweep() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".staging-") && !entry.is_symlink(ec)) {
            fs::remove_all(entry.path(), ec);
        }
    }
}

std::expected<fs::path, std::string> Installation::makeStaging() const {
    std::string pattern = (root_ / ".staging-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return std::unexpected("cannot make a staging folder in " + root_.string() + ": " +
                               std::strerror(errno));
    }
    return fs::path(pattern);
}

std::unique_ptr<ArchiveUnpacker> ArchiveUnpacker::start(Runtime& runtime, int archiveFd,
                                                        const fs::path& destination, Done done) {
    std::error_code ec;
    const char* tar = fs::exists("/usr/bin/tar", ec) ? "/usr/bin/tar" : "/bin/tar";
    if (::lseek(archiveFd, 0, SEEK_SET) != 0) {
        return nullptr;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, archiveFd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    const std::string destinationText = destination.string();
    std::vector<char*> argv = {const_cast<char*>("tar"),
                               const_cast<char*>("-xzf"),
                               const_cast<char*>("-"),
                               const_cast<char*>("-C"),
                               const_cast<char*>(destinationText.c_str()),
                               const_cast<char*>("--no-same-owner"),
                               const_cast<char*>("--no-same-permissions"),
                               nullptr};
    // tar finds gzip on this PATH; nothing else of our environment reaches it.
    std::vector<char*> envp = {const_cast<char*>("PATH=/usr/bin:/bin"),
                               const_cast<char*>("LC_ALL=C"), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, tar, &actions, nullptr, argv.data(), envp.data());
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

std::expected<void, std::string> spawnRelaunch(const RelaunchRequest& request) {
    // Everything the children need is made before fork: after it only async-signal-safe calls.
    std::vector<std::string> words = {
        request.helper.string(), request.root.string(), std::to_string(request.waitFor),
        std::to_string(static_cast<long>(request.probation.count())), "--"};
    words.insert(words.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return std::unexpected(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return std::unexpected(std::string("cannot fork: ") + std::strerror(error));
    }
    if (child == 0) {
        // The grandchild is nobody's child once we are gone: no zombie is left behind.
        ::setsid();
        if (::fork() != 0) {
            ::_exit(0);
        }
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, STDIN_FILENO);
            ::dup2(devnull, STDOUT_FILENO);
        }
        ::execve(argv[0], argv.data(), environ);
        const int error = errno;
        [[maybe_unused]] const auto written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n = 0;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {
        return std::unexpected("cannot start " + request.helper.string() + ": " +
                               std::strerror(error));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::unexpected(std::string("the relaunch step did not start"));
    }
    return {};
}

}  // namespace tesvano::platform
