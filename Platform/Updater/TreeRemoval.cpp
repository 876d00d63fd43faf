#include "Platform/Updater/TreeRemoval.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Updater/UniqueFd.h"

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

using Fd = UniqueFd;

using Failure = std::unexpected<std::string>;

std::string systemError(const std::string& what, int error = errno) {
    return what + ": " + std::strerror(error);
}

// A folder on the way down: its name in the one above, who it is (to know the way back up
// leads to the same folder) and the folders in it still to remove.
struct Level {
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<std::string> folders;
    bool listed = false;
    int relisted = 0;
};

// Makes the folder `name` in `at` readable, as it is ours; only when that name is a folder, never
// what a link put in its place leads to. Its mode is changed through a descriptor of it (the
// system's own links to descriptors), so a name swapped meanwhile changes nothing else.
void openUp(int at, const char* name) {
    const Fd folder(::openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (folder.get() < 0 || ::fstat(folder.get(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid()) {
        return;
    }
    const std::string itself = "/proc/self/fd/" + std::to_string(folder.get());
    ::chmod(itself.c_str(), 0700);
}

int openFolderAt(int at, const char* name) {
    int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        // A folder we made but may not read.
        openUp(at, name);
        fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    return fd;
}

// Removes what `folder` holds that is no folder, and answers the names of the folders.
std::expected<std::vector<std::string>, std::string> removeFiles(int folder,
                                                                 const std::string& where) {
    DIR* dir = ::fdopendir(::dup(folder));
    if (dir == nullptr) {
        return Failure(systemError("cannot read " + where));
    }
    ::rewinddir(dir);
    std::vector<std::string> folders;
    std::string failure;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            isFolder = ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(info.st_mode);
        }
        if (isFolder) {
            folders.push_back(name);
        } else if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) {
            if (errno == EISDIR) {
                folders.push_back(name);
            } else if (failure.empty()) {
                failure = systemError("cannot remove " + name + " in " + where);
            }
        }
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (!failure.empty()) {
        return Failure(failure);
    }
    if (readError != 0) {
        return Failure(systemError("cannot read " + where, readError));
    }
    return folders;
}

std::expected<void, std::string> removeBelow(int parent, const std::string& name,
                                             const std::string& where, bool keepTop) {
    Fd current(openFolderAt(parent, name.c_str()));
    if (current.get() < 0) {
        if (errno == ENOENT) {
            return {};
        }
        if ((errno == ENOTDIR || errno == ELOOP) && !keepTop) {
            if (::unlinkat(parent, name.c_str(), 0) != 0 && errno != ENOENT) {
                return Failure(systemError("cannot remove " + where));
            }
            return {};
        }
        return Failure(systemError("cannot open " + where));
    }
    std::vector<Level> levels;
    auto enter = [&levels](const Fd& folder, std::string levelName) {
        struct stat info {};
        if (::fstat(folder.get(), &info) != 0) {
            return false;
        }
        levels.push_back({std::move(levelName), info.st_dev, info.st_ino, {}, false, 0});
        return true;
    };
    if (!enter(current, name)) {
        return Failure(systemError("cannot open " + where));
    }
    while (!levels.empty()) {
        Level& level = levels.back();
        const std::string at = where + " (" + std::to_string(levels.size() - 1) + " folders down)";
        if (!level.listed) {
            auto folders = removeFiles(current.get(), at);
            if (!folders) {
                return Failure(folders.error());
            }
            level.folders = std::move(*folders);
            level.listed = true;
        }
        if (!level.folders.empty()) {
            const std::string next = std::move(level.folders.back());
            level.folders.pop_back();
            Fd below(openFolderAt(current.get(), next.c_str()));
            if (below.get() < 0) {
                if (errno == ENOTDIR || errno == ELOOP) {
                    ::unlinkat(current.get(), next.c_str(), 0);
                } else if (errno != ENOENT) {
                    return Failure(systemError("cannot open " + next + " in " + at));
                }
                continue;
            }
            if (!enter(below, next)) {
                return Failure(systemError("cannot open " + next + " in " + at));
            }
            current = std::move(below);
            continue;
        }
        if (levels.size() == 1) {
            break;
        }
        // Back up by "..", which must be the folder we came down from: were the tree moved
        // meanwhile, removing by name could take something else.
        Fd up(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info {};
        const Level& above = levels[levels.size() - 2];
        if (up.get() < 0 || ::fstat(up.get(), &info) != 0 || info.st_dev != above.device ||
            info.st_ino != above.inode) {
            return Failure("cannot remove " + where + ": it was moved while being removed");
        }
        if (::unlinkat(up.get(), level.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            if (errno == ENOTEMPTY && level.relisted++ < 3) {
                level.listed = false;  // something came in meanwhile
                continue;
            }
            return Failure(systemError("cannot remove " + level.name + " in " + at));
        }
        levels.pop_back();
        current = std::move(up);
    }
    current = Fd();
    if (!keepTop && ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        return Failure(systemError("cannot remove " + where));
    }
    return {};
}

std::expected<void, std::string> removeUnder(const fs::path& path, bool keepTop) {
    const fs::path normal = path.lexically_normal();
    fs::path name = normal.filename();
    fs::path parent = normal.parent_path();
    if (name.empty()) {  // a trailing slash
        name = parent.filename();
        parent = parent.parent_path();
    }
    if (name.empty() || name == "." || name == "..") {
        return Failure("cannot remove " + path.string() + ": not a named folder");
    }
    Fd at(::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (at.get() < 0) {
        return errno == ENOENT ? std::expected<void, std::string>()
                               : Failure(systemError("cannot open " + parent.string()));
    }
    return removeBelow(at.get(), name.string(), path.string(), keepTop);
}

}  // namespace

std::expected<void, std::string> removeTree(const fs::path& path) {
    return removeUnder(path, false);
}

std::expected<void, std::string> emptyFolder(const fs::path& folder) {
    return removeUnder(folder, true);
}

}  // namespace tesvano::platform
