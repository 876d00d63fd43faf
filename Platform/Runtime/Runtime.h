#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace tesvano::platform {

// Durations and instants are double seconds so that fractional settle windows and
// back-offs are exact to the millisecond and beyond.
using Seconds = std::chrono::duration<double>;
// Wall-clock instant: seconds since the Unix epoch.
using WallTime = std::chrono::sys_time<Seconds>;

// A scheduled action or an fd watch. Destroying the handle (or calling cancel) unregisters
// it; detach() lets a one-shot action run without anybody keeping the handle.
class [[nodiscard]] Registration {
public:
    struct State {
        bool cancelled = false;
        // Run once, by the first cancel (or the destruction of the handle that cancels).
        std::function<void()> onCancel;
    };

    Registration() = default;
    explicit Registration(std::shared_ptr<State> state) : state_(std::move(state)) {}
    Registration(Registration&&) noexcept = default;
    Registration& operator=(Registration&& other) noexcept {
        if (this != &other) {
            cancel();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    ~Registration() { cancel(); }

    void cancel() {
        if (state_) {
            const bool first = !state_->cancelled;
            state_->cancelled = true;
            auto hook = first ? std::move(state_->onCancel) : std::function<void()>();
            state_.reset();
            if (hook) {
                hook();
            }
        }
    }
    void detach() { state_.reset(); }
    bool active() const { return state_ && !state_->cancelled; }

private:
    std::shared_ptr<State> state_;
};

// The main-thread scheduler and the clocks. Every delay in the program goes through one of
// these, so tests can run on virtual time.
class Runtime {
public:
    virtual ~Runtime() = default;

    // Monotonic time since an arbitrary origin; never jumps.
    virtual Seconds uptime() const = 0;
    // Wall-clock time.
    virtual WallTime now() const = 0;

    // Runs `action` on the main thread once `delay` has passed (a negative delay counts as
    // zero). Actions due at the same time run in the order they were scheduled.
    virtual Registration after(Seconds delay, std::function<void()> action) = 0;

    // Calls `onReadable` on the main thread whenever `fd` has data to read.
    virtual Registration watchReadable(int fd, std::function<void()> onReadable) = 0;

    // Fire and forget: the action holds whatever guards it needs (weak owners, generations).
    void post(Seconds delay, std::function<void()> action) {
        after(delay, std::move(action)).detach();
    }
};

// Lets the calling thread's timers wake it within a microsecond instead of the kernel's
// default 50 µs: the main thread's timers decide how soon a switch follows an activation.
void reduceTimerSlack();

}  // namespace tesvano::platform
