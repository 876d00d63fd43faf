#include "Platform/Updater/Installation.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "Platform/Log/Log.h"
#include "Platform/Updater/TreeRemoval.h"

extern char** environ;

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

const Logger& log() {
    static const Logger logger("Updater");
    return logger;
}

// The pending switch: the previous version, the new one, how many starts of the new one have
// not confirmed, and which build of it this is.
struct Marker {
    std::string previous;
    std::string next;
    int attempts = 0;
    std::string build;
};

std::optional<Marker> readMarker(const fs::path& path) {
    std::ifstream in(path);
    Marker m;
    if (!in || !std::getline(in, m.previous) || !std::getline(in, m.next) || !(in >> m.attempts)) {
        return std::nullopt;
    }
    in >> m.build;
    return m;
}

// An exclusive lock on a file, held while the object lives: the pending switch is read and
// changed by the new version, the relaunch step and the updater, one at a time.
class FileLock {
public:
    explicit FileLock(const fs::path& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

// Whether any process we may look at runs a program from inside `folder`.
bool runsFrom(const fs::path& folder) {
    std::error_code ec;
    const std::string inside = fs::weakly_canonical(folder, ec).string() + "/";
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        // This process is about to start another version, or is the one deciding.
        if (name.find_first_not_of("0123456789") != std::string::npos ||
            name == std::to_string(::getpid())) {
            continue;
        }
        std::error_code ignored;
        const std::string exe = fs::read_symlink(entry.path() / "exe", ignored).string();
        if (exe.starts_with(inside)) {
            return true;
        }
    }
    return false;
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
    return writeAtomically(path, m.previous + '\n' + m.next + '\n' + std::to_string(m.attempts) +
                                     '\n' + m.build + '\n');
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

// The record of failed versions: a version on each line, with the build that failed when known.
std::vector<std::pair<std::string, std::string>> readFailures(const fs::path& path) {
    std::vector<std::pair<std::string, std::string>> failures;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto space = line.find(' ');
        std::string version = line.substr(0, space);
        if (Installation::isPlainVersion(version)) {
            failures.emplace_back(std::move(version),
                                  space == std::string::npos ? "" : line.substr(space + 1));
        }
    }
    return failures;
}

bool writeFailures(const fs::path& path,
                   const std::vector<std::pair<std::string, std::string>>& failures) {
    std::string text;
    for (const auto& [version, build] : failures) {
        text += build.empty() ? version + '\n' : version + ' ' + build + '\n';
    }
    return writeAtomically(path, text);
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

fs::path Installation::stableExecutable(const fs::path& running) {
    const auto installation = containing(running);
    return installation ? installation->currentExecutable() : running;
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
    std::set<std::string> versions;
    for (const auto& failure : readFailures(failedPath())) {
        versions.insert(failure.first);
    }
    return versions;
}

bool Installation::failedBefore(const std::string& version, const std::string& build) const {
    return std::ranges::any_of(readFailures(failedPath()), [&](const auto& failure) {
        return failure.first == version && (failure.second.empty() || failure.second == build);
    });
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
    if (runsFrom(versionFolder(version))) {
        return;  // kept, and recorded, until nothing runs from it
    }
    if (removeTree(versionFolder(version))) {
        versions.erase(version);
        writeLines(root_ / recordName, versions);
    }
}

std::expected<void, std::string> Installation::switchTo(const std::string& version,
                                                        const std::string& previous,
                                                        const std::string& build) {
    if (!isPlainVersion(version)) {
        return std::unexpected("the version \"" + version + "\" cannot name a folder");
    }
    FileLock lock(lockPath());
    // A signature is base64: one word.
    const bool plainBuild = build.find_first_of(" \t\r\n") == std::string::npos;
    std::error_code ec;
    fs::remove(faultPath(), ec);
    if (!writeMarker(markerPath(), Marker{previous, version, 0, plainBuild ? build : ""})) {
        return std::unexpected("cannot note the switch in " + markerPath().string());
    }
    if (auto switched = pointLink(currentLink(), version); !switched) {
        fs::remove(markerPath(), ec);
        return switched;
    }
    return {};
}

Installation::StartupVerdict Installation::checkStartup(const std::string& runningVersion) {
    FileLock lock(lockPath());
    auto marker = readMarker(markerPath());
    std::error_code ec;
    if (!marker) {
        fs::remove(markerPath(), ec);
        fs::remove(faultPath(), ec);
        return StartupVerdict::nothingPending;
    }
    if (runningVersion != marker->next) {
        if (runningVersion == marker->previous) {
            fs::remove(markerPath(), ec);
            fs::remove(faultPath(), ec);
        }
        return StartupVerdict::nothingPending;
    }
    // Only one copy runs at a time: an earlier start that was counted has ended without
    // confirming, whoever started it. Its own fault when it noted one; otherwise it was
    // killed or its session ended, which says nothing about it, and this start is on
    // probation in its place.
    if (marker->attempts > 0) {
        if (const auto note = readFaultNote(faultPath()); note && note->version == marker->next) {
            return StartupVerdict::rollBack;
        }
        marker->attempts = 0;
    }
    // Only what this start notes may count against it: a note from before (left by a start
    // judged from outside since) would roll back a start that is merely killed.
    fs::remove(faultPath(), ec);
    ++marker->attempts;
    writeMarker(markerPath(), *marker);  // a full disk leaves this start uncounted
    return StartupVerdict::probation;
}

void Installation::watchOwnStart(const std::string& runningVersion) const {
    platform::watchOwnStart(faultPath(), runningVersion);
}

std::optional<std::string> Installation::recordedFault() const {
    const auto marker = readMarker(markerPath());
    const auto note = readFaultNote(faultPath());
    if (!marker || !note || note->version != marker->next) {
        return std::nullopt;
    }
    return note->ending.describe() + " before it confirmed its start";
}

void Installation::confirmStart(const std::string& runningVersion) {
    stopWatchingOwnStart(runningVersion);
    FileLock lock(lockPath());
    const auto marker = readMarker(markerPath());
    if (!marker || marker->next != runningVersion) {
        return;
    }
    std::error_code ec;
    fs::remove(markerPath(), ec);
    fs::remove(faultPath(), ec);
    auto failures = readFailures(failedPath());
    if (std::erase_if(failures, [&](const auto& f) { return f.first == runningVersion; }) > 0) {
        writeFailures(failedPath(), failures);
    }
    if (marker->previous != runningVersion && currentVersion() == runningVersion) {
        discard(marker->previous);
    }
}

void Installation::forgetStart(const std::string& runningVersion) {
    FileLock lock(lockPath());
    auto marker = readMarker(markerPath());
    if (marker && marker->next == runningVersion && marker->attempts > 0) {
        --marker->attempts;
        writeMarker(markerPath(), *marker);
        // Whatever that start noted of itself is not held against it either.
        std::error_code ec;
        fs::remove(faultPath(), ec);
    }
}

std::optional<std::string> Installation::pendingVersion() const {
    const auto marker = readMarker(markerPath());
    return marker ? std::optional<std::string>(marker->next) : std::nullopt;
}

int Installation::unconfirmedStarts() const {
    const auto marker = readMarker(markerPath());
    return marker ? marker->attempts : 0;
}

int Installation::holdRelaunchLock() const {
    const fs::path path = root_ / ".relaunch-lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    while (fd >= 0 && ::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

std::expected<std::string, std::string> Installation::rollBack(const std::string& why) {
    FileLock lock(lockPath());
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
    if (isPlainVersion(marker->next)) {
        auto failures = readFailures(failedPath());
        std::erase_if(failures, [&](const auto& f) { return f.first == marker->next; });
        failures.emplace_back(marker->next, marker->build);
        writeFailures(failedPath(), failures);
        std::ofstream(root_ / "failed-versions.log", std::ios::app)
            << marker->next << ": " << why << '\n';
    }
    fs::remove(markerPath(), ec);
    fs::remove(faultPath(), ec);
    discard(marker->next);
    return marker->previous;
}

void Installation::sweep() {
    // Failed versions whose folder was kept while they still ran.
    const auto pending = pendingVersion();
    for (const auto& version : failedVersions()) {
        if (version != currentVersion() && version != pending) {
            discard(version);
        }
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        const std::string name = entry.path().filename().string();
        // However deep an earlier run left it (removeTree holds no descriptor per level).
        if (name.starts_with(".staging-") && !entry.is_symlink(ec)) {
            if (auto removed = removeTree(entry.path()); !removed) {
                log().error("Cannot remove an interrupted update's folder: %{public}s",
                            removed.error());
            }
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

void execInstead(const fs::path& executable, std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& word : arguments) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    ::execve(executable.c_str(), argv.data(), environ);
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
