#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// Runs one piece of work on a thread of its own and hands its result to the runtime's loop
// through a pipe, so the loop never waits for it. Going away cancels the work (which reads the
// flag it is given) and waits for the thread.
template <typename Result>
class BackgroundTask {
public:
    using Work = std::function<Result(const std::atomic<bool>* cancelled)>;
    using Done = std::function<void(Result)>;

    BackgroundTask(Runtime& runtime, Work work, Done done) : done_(std::move(done)) {
        if (::pipe2(pipe_, O_CLOEXEC) != 0) {
            pipe_[0] = pipe_[1] = -1;
            return;
        }
        watch_ = runtime.watchReadable(pipe_[0], [this] { finish(); });
        thread_ = std::thread([this, work = std::move(work)] {
            result_.emplace(work(&cancelled_));
            const char byte = 1;
            [[maybe_unused]] const auto written = ::write(pipe_[1], &byte, 1);
        });
    }
    ~BackgroundTask() {
        watch_.cancel();
        cancelled_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        for (int fd : pipe_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // False when no thread could be started; then `done` is never called.
    bool started() const { return thread_.joinable(); }

private:
    void finish() {
        watch_.cancel();
        thread_.join();
        if (Done done = std::exchange(done_, nullptr)) {
            done(std::move(*result_));  // may destroy this
        }
    }

    Done done_;
    int pipe_[2] = {-1, -1};
    Registration watch_;
    std::atomic<bool> cancelled_{false};
    std::optional<Result> result_;
    std::thread thread_;
};

}  // namespace tesvano::platform
