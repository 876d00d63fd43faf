#include "Platform/Updater/DownloadWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "Platform/Updater/StartJudgement.h"

namespace tesvano::platform {

DownloadWriter::DownloadWriter(Runtime& runtime, int fd, Handlers handlers)
    : fd_(fd), handlers_(std::move(handlers)) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    watch_ = runtime.watchReadable(pipe_[0], [this] { wake(); });
    thread_ = std::thread([this] { work(); });
}

DownloadWriter::~DownloadWriter() {
    watch_.cancel();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
    for (int fd : pipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool DownloadWriter::write(std::span<const std::uint8_t> chunk) {
    std::lock_guard lock(mutex_);
    queue_.emplace_back(chunk.begin(), chunk.end());
    waiting_ += chunk.size();
    cv_.notify_one();
    if (waiting_ >= highWater || over_) {
        holdingBack_ = true;
    }
    return !holdingBack_;
}

void DownloadWriter::finish() {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    cv_.notify_one();
}

void DownloadWriter::signal() {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(pipe_[1], &byte, 1);
}

void DownloadWriter::work() {
    const ThreadSignalStack signalStack;
    for (;;) {
        std::vector<std::uint8_t> chunk;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [&] { return stopping_ || finishing_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            if (queue_.empty()) {
                break;  // finishing, all written
            }
            chunk = std::move(queue_.front());
            queue_.pop_front();
        }
        std::size_t written = 0;
        while (written < chunk.size()) {
            const ssize_t n = ::write(fd_, chunk.data() + written, chunk.size() - written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                std::lock_guard lock(mutex_);
                error_ = std::string("cannot store the download: ") +
                         (n == 0 ? "the disk is full" : std::strerror(errno));
                over_ = true;
                signal();
                return;
            }
            written += static_cast<std::size_t>(n);
        }
        std::lock_guard lock(mutex_);
        waiting_ -= chunk.size();
        if (holdingBack_ && waiting_ <= lowWater) {
            holdingBack_ = false;
            drainedDue_ = true;
            signal();
        }
    }
    const bool synced = ::fdatasync(fd_) == 0 || errno == EINVAL;
    std::lock_guard lock(mutex_);
    if (!synced) {
        error_ = std::string("cannot store the download: ") + std::strerror(errno);
    }
    over_ = true;
    signal();
}

void DownloadWriter::wake() {
    char bytes[64];
    while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    bool drained = false;
    bool over = false;
    std::optional<std::string> error;
    {
        std::lock_guard lock(mutex_);
        drained = std::exchange(drainedDue_, false);
        over = over_ && !reported_;
        reported_ = reported_ || over;
        error = error_;
    }
    if (over) {
        watch_.cancel();
        if (auto done = std::move(handlers_.done)) {
            done(std::move(error));  // may destroy this
        }
        return;
    }
    if (drained && handlers_.drained) {
        auto handler = handlers_.drained;
        handler();
    }
}

}  // namespace tesvano::platform
