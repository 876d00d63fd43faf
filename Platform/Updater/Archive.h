#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/BackgroundTask.h"

namespace tesvano::platform {

// How much an update archive may unpack to. A signed archive is trusted to be ours, but a
// mistake in a release (or a stolen key) must not fill the disk or plant links elsewhere.
struct ArchiveLimits {
    std::uint64_t maxBytes = 1ull << 30;   // file content, in all
    std::uint64_t maxEntries = 10000;      // files, folders and links
    std::uint64_t keepFree = 64ull << 20;  // free space the unpacking never goes below
};

// Unpacks a gzip-compressed tar archive read from `fd` (from its start) into the empty folder
// `destination`. Only files, folders and symbolic links are taken; a name that is absolute or
// has a ".." step is refused, nothing is written through a link, and every link must lead to
// something inside the version folder (the archive's one top folder, or `destination`).
// Stops at `limits` and when `cancelled` is set. On any refusal `destination` is left empty.
std::expected<void, std::string> unpackArchive(int fd, const std::filesystem::path& destination,
                                               const ArchiveLimits& limits,
                                               const std::atomic<bool>* cancelled = nullptr);

// The folder an unpacked archive's version is in: its one top folder, or `destination` when
// it holds the prefix itself.
std::filesystem::path unpackedVersionFolder(const std::filesystem::path& destination);

// unpackArchive on a worker thread, reporting its end on the runtime's loop (never blocking
// it). Destroying it cancels the unpacking and waits for the thread.
class ArchiveUnpacker {
public:
    using Result = std::expected<void, std::string>;
    using Done = std::function<void(Result)>;
    static std::unique_ptr<ArchiveUnpacker> start(Runtime& runtime, int archiveFd,
                                                  const std::filesystem::path& destination,
                                                  Done done, ArchiveLimits limits = {});

private:
    ArchiveUnpacker(Runtime& runtime, BackgroundTask<Result>::Work work, Done done)
        : task_(runtime, std::move(work), std::move(done)) {}

    BackgroundTask<Result> task_;
};

}  // namespace tesvano::platform
