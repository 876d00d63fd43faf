#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/StartJudgement.h"

namespace tesvano::platform {

// A copy of a descriptor, closed with its last holder: what a piece of work takes along.
inline std::shared_ptr<const int> sharedDescriptor(int fd) {
    const int copy = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    return std::shared_ptr<const int>(new int(copy), [](const int* held) {
        if (*held >= 0) {
            ::close(*held);
        }
        delete held;
    });
}

// Runs one piece of work on a thread of its own and hands its result to the runtime's loop
// through a pipe, so the loop never waits for it. Going away cancels the work (which reads the
// flag it is given) and does not wait for the thread either: the work must own everything it
// uses (copies of descriptors, paths), as it may run on for a while after this is gone.
template <typename Result>
class BackgroundTask {
public:
    using Work = std::function<Result(const std::atomic<bool>* cancelled)>;
    using Done = std::function<void(Result)>;

    BackgroundTask(Runtime& runtime, Work work, Done done) : done_(std::move(done)) {
        auto shared = std::make_shared<Shared>();
        if (::pipe2(shared->pipe, O_CLOEXEC) != 0) {
            shared->pipe[0] = shared->pipe[1] = -1;
            return;
        }
        shared_ = shared;
        watch_ = runtime.watchReadable(shared->pipe[0], [this] { finish(); });
        try {
            std::thread([shared, work = std::move(work)] {
                const ThreadSignalStack signalStack;
                shared->result.emplace(work(&shared->cancelled));
                shared->ready.store(true, std::memory_order_release);
                const char byte = 1;
                [[maybe_unused]] const auto written = ::write(shared->pipe[1], &byte, 1);
            }).detach();
            started_ = true;
        } catch (const std::system_error&) {
            watch_.cancel();
        }
    }
    ~BackgroundTask() { cancel(); }
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // False when no thread could be started; then `done` is never called.
    bool started() const { return started_; }
    // Asks the work to stop; `done` is not called any more.
    void cancel() {
        watch_.cancel();
        done_ = nullptr;
        if (shared_) {
            shared_->cancelled = true;
        }
    }

private:
    struct Shared {
        ~Shared() {
            for (int fd : pipe) {
                if (fd >= 0) {
                    ::close(fd);
                }
            }
        }
        std::atomic<bool> cancelled{false};
        std::atomic<bool> ready{false};
        std::optional<Result> result;
        int pipe[2] = {-1, -1};
    };

    void finish() {
        if (!shared_->ready.load(std::memory_order_acquire)) {
            return;
        }
        watch_.cancel();
        if (Done done = std::exchange(done_, nullptr)) {
            done(std::move(*shared_->result));  // may destroy this
        }
    }

    Done done_;
    std::shared_ptr<Shared> shared_;
    Registration watch_;
    bool started_ = false;
};

}  // namespace tesvano::platform
