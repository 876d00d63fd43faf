#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// How the program's own small files (its settings, its autostart entry) are read and
// replaced: never through something planted in their place, never blocking on a special file.
namespace tesvano::platform {

// Opens `path` for writing as a new file of `mode`, never through a link or into a file that
// stands there: one left there (by a writer that died, or planted) is removed first, the link
// itself and never what it leads to. -1 with errno when it cannot be made.
int createFreshFile(const std::filesystem::path& path, mode_t mode);

// Writes all of `bytes`, across short writes and interruptions.
bool writeAll(int fd, std::string_view bytes);

// `notRegular`: a FIFO, a device, a folder, or a link when links are not followed.
enum class ReadStatus { read, missing, notRegular, failed };

struct ReadLimits {
    // A file larger than this is refused unread (`refuseLarger`) or read up to it.
    std::size_t maximumSize = 0;
    bool refuseLarger = true;
    // Whether a link at the path is followed (to a regular file only).
    bool followLinks = true;
};

// Reads a regular file. Anything else fails at once rather than blocking.
ReadStatus readRegularFile(const std::filesystem::path& path, const ReadLimits& limits,
                           std::string& text, std::string& reason);

// Moves a damaged file out of the way under a name that says why; never replaces anything.
std::optional<std::filesystem::path> setAside(const std::filesystem::path& path,
                                              std::string_view why);
// A copy of the file under a name that says why, for values the program could not read.
std::optional<std::filesystem::path> copyAside(const std::filesystem::path& path,
                                               const std::string& text, std::string_view why);

// Temporary files (`<name>.tmp-<pid>`) left by a writer that died before its rename.
void removeStaleTemporaries(const std::filesystem::path& path);

// Where a write goes. A link is followed while it stays in the settings folder (a file kept
// beside the settings under another name, say), so that the link stays a link. One that
// leads out of the folder is not followed: a write never replaces what lies elsewhere (a
// device, a pipe, another program's file). `refusal` says why the link itself must go.
struct WriteTarget {
    std::filesystem::path path;
    std::string refusal;
};
WriteTarget writeTarget(const std::filesystem::path& path);

}  // namespace tesvano::platform
