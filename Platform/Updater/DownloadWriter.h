#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// Writes a download into its file on a thread of its own, so that the loop's thread never
// waits for the disk. What waits to be written is bounded by the caller: write() answers false
// once `highWater` bytes wait, and `drained` comes (on the loop's thread) when they are down to
// `lowWater`. Going away stops the thread (within one piece) and leaves the file to its owner.
class DownloadWriter {
public:
    struct Handlers {
        std::function<void()> drained;
        // Once: after finish() with everything written and on the disk, or at the first error
        // (with what went wrong). It may destroy the writer.
        std::function<void(std::optional<std::string> error)> done;
    };
    static constexpr std::size_t highWater = 8u << 20;
    static constexpr std::size_t lowWater = 2u << 20;

    DownloadWriter(Runtime& runtime, int fd, Handlers handlers);
    ~DownloadWriter();
    DownloadWriter(const DownloadWriter&) = delete;
    DownloadWriter& operator=(const DownloadWriter&) = delete;

    bool started() const { return thread_.joinable(); }
    // Queues a copy of `chunk`; false when the caller should hold back until `drained`.
    bool write(std::span<const std::uint8_t> chunk);
    // No more data: the rest is written and synced, then `done`.
    void finish();

private:
    void work();
    void signal();
    void wake();

    int fd_;
    Handlers handlers_;
    int pipe_[2] = {-1, -1};
    Registration watch_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::vector<std::uint8_t>> queue_;
    std::size_t waiting_ = 0;
    bool holdingBack_ = false;
    bool drainedDue_ = false;
    bool finishing_ = false;
    bool stopping_ = false;
    bool over_ = false;
    bool reported_ = false;
    std::optional<std::string> error_;
    std::thread thread_;
};

}  // namespace tesvano::platform
