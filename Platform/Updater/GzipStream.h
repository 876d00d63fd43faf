#pragma once

#include <zlib.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <expected>
#include <string>

namespace tesvano::platform {

// The decompressed bytes of a gzip file: one gzip stream (or several back to back, as gzip
// itself reads them) and nothing after it; a file cut short, even only in the stream's closing
// check sum, is an error. Read with pread, so that the descriptor's offset, which its copies
// share, stays as it is. At most `limit` bytes are handed out. Reading stops when `cancelled`
// is set: however many members (even empty ones) a read runs through.
class GzipStream {
public:
    using Outcome = std::expected<void, std::string>;

    GzipStream(int fd, std::uint64_t limit, const std::atomic<bool>* cancelled = nullptr)
        : fd_(fd), limit_(limit), cancelled_(cancelled) {}
    ~GzipStream();
    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    // Refuses what is no gzip file.
    Outcome open();
    // Exactly `size` bytes, or an error.
    Outcome read(char* into, std::size_t size);
    // Reads the rest, which must be zeros only (what a tar file holds after its end), to the
    // end of the file.
    Outcome finish();

private:
    // Decompresses into `into` at most `size` bytes; `got` says how many came.
    Outcome inflateSome(char* into, std::size_t size, std::size_t& got);
    Outcome fill();
    Outcome nextMember();
    Outcome tooLarge() const;
    bool isCancelled() const { return cancelled_ != nullptr && *cancelled_; }

    int fd_;
    std::uint64_t limit_;
    const std::atomic<bool>* cancelled_;
    z_stream stream_{};
    bool initialised_ = false;
    bool ended_ = false;
    std::uint64_t at_ = 0;
    std::uint64_t produced_ = 0;
    std::array<Bytef, 64 * 1024> buffer_{};
};

}  // namespace tesvano::platform
