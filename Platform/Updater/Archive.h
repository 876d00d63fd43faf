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
    // File content, in all. Content the reader skips (declared by a folder or a link) counts
    // as well, so the decompressed stream never runs past this and its headers.
    std::uint64_t maxBytes = 1ull << 30;
    std::uint64_t maxEntries = 10000;  // files, folders (those made on the way too), links
    std::uint64_t maxDepth = 256;      // folders in one name
    // Links, and the length of what one names (the kernel's own bound): each is followed once
    // when they are checked, so this bounds the check as well. A long link holds a block of
    // the disk of its own, which removing a refused or cancelled unpacking has to give back.
    std::uint64_t maxLinks = 1024;
    std::uint64_t maxLinkLength = 4095;
    std::uint64_t keepFree = 64ull << 20;  // free space the unpacking never goes below
    std::uint64_t keepFreeInodes = 4096;   // nor free file entries, where the disk counts them
};

// The most the reader takes of headers (names, extended headers, padding) beside the content:
// the decompressed stream ends within `maxBytes` and this.
constexpr std::uint64_t archiveHeaderAllowance = 64ull << 20;

// Unpacks a gzip-compressed tar archive read from `fd` (from its start) into the empty folder
// `destination`. Only files, folders and symbolic links are taken; a name that is absolute, has
// a ".." step or holds a NUL byte is refused, nothing is written through a link, and every link
// must lead to something inside the version folder (the archive's one top folder, or
// `destination`). Stops at `limits` and when `cancelled` is set, which it reads in every phase. On
// any refusal `destination` is left empty.
std::expected<void, std::string> unpackArchive(int fd, const std::filesystem::path& destination,
                                               const ArchiveLimits& limits,
                                               const std::atomic<bool>* cancelled = nullptr);

// The folder an unpacked archive's version is in: its one top folder, or `destination` when
// it holds the prefix itself.
std::filesystem::path unpackedVersionFolder(const std::filesystem::path& destination);

// "1 GiB", "64 MiB" or a count of bytes: how the limits are spoken of.
std::string byteAmount(std::uint64_t bytes);

// unpackArchive on a worker thread, reporting its end on the runtime's loop (never blocking
// it). The worker holds its own copy of the archive's descriptor. Going away cancels the
// unpacking without waiting for it: a worker that is still running then removes
// `destination` itself once it has stopped.
class ArchiveUnpacker {
public:
    using Result = std::expected<void, std::string>;
    using Done = std::function<void(Result)>;
    static std::unique_ptr<ArchiveUnpacker> start(Runtime& runtime, int archiveFd,
                                                  const std::filesystem::path& destination,
                                                  Done done, ArchiveLimits limits = {});
    ~ArchiveUnpacker();
    // Cancels as going away does; true when the worker was still running and so removes
    // `destination` itself, false when that is left to the caller.
    bool abandon();

private:
    struct Handover;
    ArchiveUnpacker(Runtime& runtime, BackgroundTask<Result>::Work work, Done done,
                    std::shared_ptr<Handover> handover)
        : handover_(std::move(handover)), task_(runtime, std::move(work), std::move(done)) {}

    std::shared_ptr<Handover> handover_;
    BackgroundTask<Result> task_;
};

}  // namespace tesvano::platform
