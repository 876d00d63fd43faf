#include "Platform/Defaults/SettingsFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

std::string timestampSuffix() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// Whether `inner` is `folder` or lies below it; both resolved.
bool isWithin(const fs::path& inner, const fs::path& folder) {
    return std::mismatch(folder.begin(), folder.end(), inner.begin(), inner.end()).first ==
           folder.end();
}

}  // namespace

int createFreshFile(const fs::path& path, mode_t mode) {
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags, mode);
    if (fd < 0 && errno == EEXIST && ::unlink(path.c_str()) == 0) {
        fd = ::open(path.c_str(), flags, mode);
    }
    return fd;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

ReadStatus readRegularFile(const fs::path& path, const ReadLimits& limits, std::string& text,
                           std::string& reason) {
    const int flags =
        O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (limits.followLinks ? 0 : O_NOFOLLOW);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        if (errno == ENOENT) {
            return ReadStatus::missing;
        }
        if (errno == ELOOP && !limits.followLinks) {
            reason = "a link";
            return ReadStatus::notRegular;
        }
        reason = std::strerror(errno);
        return ReadStatus::failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        ::close(fd);
        return ReadStatus::notRegular;
    }
    const auto tooLarge = [&](std::uint64_t size) {
        reason = "it holds " + std::to_string(size) +
                 " bytes, more than settings ever take: " + std::to_string(limits.maximumSize) +
                 " at most";
    };
    // Refused before reading: parsing a file of hundreds of megabytes takes a minute and
    // several times its size in memory.
    if (limits.refuseLarger && static_cast<std::uint64_t>(st.st_size) > limits.maximumSize) {
        tooLarge(static_cast<std::uint64_t>(st.st_size));
        ::close(fd);
        return ReadStatus::failed;
    }
    text.clear();
    char buffer[65536];
    while (text.size() <= limits.maximumSize) {
        const std::size_t room = limits.maximumSize - text.size() + 1;
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, room));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return ReadStatus::failed;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (text.size() > limits.maximumSize) {  // it grew while being read
        if (limits.refuseLarger) {
            tooLarge(text.size());
            return ReadStatus::failed;
        }
        text.resize(limits.maximumSize);
    }
    return ReadStatus::read;
}

namespace {

// Where a file set or copied aside goes: beside it, named for why and when, and for the
// attempt after the first.
fs::path asideName(const fs::path& path, std::string_view why, int attempt) {
    fs::path target = path;
    target += ".";
    target += why;
    target += "-";
    target += timestampSuffix();
    if (attempt > 0) {
        target += "-";
        target += std::to_string(attempt);
    }
    return target;
}

}  // namespace

std::optional<fs::path> setAside(const fs::path& path, std::string_view why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path target = asideName(path, why, attempt);
        std::error_code ec;
        if (fs::exists(target, ec)) {
            continue;
        }
        // link + unlink instead of rename so an existing file is never replaced.
        if (::link(path.c_str(), target.c_str()) == 0) {
            ::unlink(path.c_str());
            return target;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (::rename(path.c_str(), target.c_str()) == 0) {
            return target;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<fs::path> copyAside(const fs::path& path, const std::string& text,
                                  std::string_view why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path target = asideName(path, why, attempt);
        const int fd =
            ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return std::nullopt;
        }
        const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
        ::close(fd);
        if (!written) {
            ::unlink(target.c_str());
            return std::nullopt;
        }
        return target;
    }
    return std::nullopt;
}

void removeStaleTemporaries(const fs::path& path) {
    std::error_code ec;
    const auto prefix = path.filename().string() + ".tmp-";
    for (const auto& entry : fs::directory_iterator(path.parent_path(), ec)) {
        const auto name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        const int pid = std::atoi(name.c_str() + prefix.size());
        if (pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM)) {
            continue;  // its writer is still alive
        }
        fs::remove(entry.path(), ec);
    }
}

WriteTarget writeTarget(const fs::path& path) {
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(path.parent_path(), ec);
    if (ec) {
        folder = path.parent_path();
    }
    fs::path current = path;
    for (int hops = 0;; ++hops) {
        if (!fs::is_symlink(fs::symlink_status(current, ec))) {
            return {current, {}};
        }
        fs::path next = fs::read_symlink(current, ec);
        if (ec || hops == 40) {
            return {path, "a link that cannot be followed"};
        }
        if (!next.is_absolute()) {
            next = current.parent_path() / next;
        }
        const fs::path name = next.filename();
        const fs::path parent = fs::weakly_canonical(next.parent_path(), ec);
        if (ec || name.empty() || name == "." || name == ".." || !isWithin(parent, folder)) {
            return {path, "a link to " + next.string() + ", outside " + folder.string()};
        }
        current = parent / name;
    }
}

}  // namespace tesvano::platform
