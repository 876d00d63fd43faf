#include "Tesvano/App/QtRuntime.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cmath>

namespace tesvano {

using platform::Registration;
using platform::Seconds;

QtRuntime::QtRuntime() : origin_(std::chrono::steady_clock::now()) {
    platform::reduceTimerSlack();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { runDue(); });
    // A cancelled watch may have its fd closed right after; it must be gone before the
    // dispatcher polls again, or the loop would poll a dead (or reused) descriptor.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { dropCancelledWatches(); });
    }
}

QtRuntime::~QtRuntime() = default;

Seconds QtRuntime::uptime() const {
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now() - origin_);
}

platform::WallTime QtRuntime::now() const {
    return std::chrono::time_point_cast<Seconds>(std::chrono::system_clock::now());
}

Registration QtRuntime::after(Seconds delay, std::function<void()> action) {
    auto registration = timers_.add(uptime() + std::max(delay, Seconds(0)), std::move(action));
    arm();
    return registration;
}

void QtRuntime::arm() {
    Seconds due{};
    if (!timers_.nextDue(due)) {
        timer_.stop();
        return;
    }
    // Rounded up: a timer that fires early would find nothing due and spin.
    const double wait = std::max(0.0, (due - uptime()).count());
    const int ms = static_cast<int>(std::min(std::ceil(wait * 1000.0), 2'000'000'000.0));
    timer_.start(ms);
}

void QtRuntime::runDue() {
    // Only what is due now: actions scheduled meanwhile with no delay wait for the next turn
    // of the loop, so a chain of zero delays cannot starve the rest of the program.
    const Seconds now = uptime();
    while (auto action = timers_.takeDue(now)) {
        action();
    }
    arm();
}

Registration QtRuntime::watchReadable(int fd, std::function<void()> onReadable) {
    auto state = std::make_shared<Registration::State>();
    auto callback = std::make_shared<std::function<void()>>(std::move(onReadable));
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    std::weak_ptr<Registration::State> weakState = state;
    std::weak_ptr<std::function<void()>> weakCallback = callback;
    QSocketNotifier* raw = notifier.get();
    connect(raw, &QSocketNotifier::activated, this, [raw, weakState, weakCallback] {
        auto live = weakState.lock();
        auto run = weakCallback.lock();
        if (!live || live->cancelled || !run) {
            raw->setEnabled(false);  // gone for good; deleted when the loop next rests
            return;
        }
        auto keep = run;  // the callback may cancel its own watch
        (*keep)();
    });
    watches_.push_back(Watch{state, std::move(callback), std::move(notifier)});
    return Registration(std::move(state));
}

void QtRuntime::dropCancelledWatches() {
    std::erase_if(watches_, [](const Watch& watch) { return watch.state->cancelled; });
}

}  // namespace tesvano
