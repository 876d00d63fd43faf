#include "Platform/Runtime/Retry.h"

namespace tesvano::platform {

struct Retry::State {
    Runtime& runtime;
    std::vector<Seconds> delays;
    Attempt attempt;
    std::function<void()> onSuccess;
    std::function<void()> onGiveUp;
    int attempts = 0;
    bool inFlight = false;
    bool succeeded = false;
    bool gaveUp = false;
    Registration timer;
    std::weak_ptr<State> self;

    State(Runtime& r, std::vector<Seconds> d, Attempt a, std::function<void()> s,
          std::function<void()> g)
        : runtime(r),
          delays(std::move(d)),
          attempt(std::move(a)),
          onSuccess(std::move(s)),
          onGiveUp(std::move(g)) {}

    void tryOnce() {
        if (succeeded || gaveUp || inFlight) {
            return;
        }
        inFlight = true;
        const int number = ++attempts;
        attempt([weak = self, number](bool ok) {
            if (auto state = weak.lock()) {
                state->finished(number, ok);
            }
        });
    }

    void finished(int number, bool ok) {
        // Only the outcome of the attempt in flight counts, and only once.
        if (number != attempts || !inFlight) {
            return;
        }
        inFlight = false;
        if (ok) {
            succeeded = true;
            if (onSuccess) {
                onSuccess();
            }
            return;
        }
        const auto next = static_cast<std::size_t>(attempts - 1);
        if (next >= delays.size()) {
            gaveUp = true;
            if (onGiveUp) {
                onGiveUp();
            }
            return;
        }
        timer = runtime.after(delays[next], [weak = self] {
            if (auto state = weak.lock()) {
                state->tryOnce();
            }
        });
    }
};

Retry::Retry(Runtime& runtime, std::vector<Seconds> delays, Attempt attempt,
             std::function<void()> onSuccess, std::function<void()> onGiveUp)
    : state_(std::make_shared<State>(runtime, std::move(delays), std::move(attempt),
                                     std::move(onSuccess), std::move(onGiveUp))) {
    state_->self = state_;
}

Retry::~Retry() {
    state_->timer.cancel();
}

void Retry::start() {
    // Once: later attempts are the timers' business.
    if (state_->attempts == 0) {
        state_->tryOnce();
    }
}

bool Retry::succeeded() const {
    return state_->succeeded;
}

bool Retry::gaveUp() const {
    return state_->gaveUp;
}

int Retry::attempts() const {
    return state_->attempts;
}

}  // namespace tesvano::platform
