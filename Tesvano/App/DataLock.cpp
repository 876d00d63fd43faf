#include "Tesvano/App/DataLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tesvano {

namespace fs = std::filesystem;

fs::path DataLock::pathFor(const fs::path& settingsFile) {
    return settingsFile.parent_path() / "instance.lock";
}

std::expected<std::unique_ptr<DataLock>, std::string> DataLock::acquire(const fs::path& lockFile) {
    std::error_code ec;
    fs::create_directories(lockFile.parent_path(), ec);
    // O_NOFOLLOW: a link planted here must not make us create or lock another file.
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return std::unexpected("Could not open " + lockFile.string() + ": " + std::strerror(errno));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            return std::unique_ptr<DataLock>();
        }
        return std::unexpected("Could not lock " + lockFile.string() + ": " + std::strerror(error));
    }
    return std::unique_ptr<DataLock>(new DataLock(fd));
}

DataLock::~DataLock() {
    ::close(fd_);
}

}  // namespace tesvano
