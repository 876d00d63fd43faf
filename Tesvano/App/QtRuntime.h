#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <vector>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Runtime/TimerQueue.h"

class QSocketNotifier;

namespace tesvano {

// The program's run loop: Qt's event loop behind the Runtime interface. Delayed actions sit
// in one queue ordered by due time (then by the order they were scheduled) behind a single
// precise timer; fd watches are socket notifiers. Needs a QCoreApplication; main thread only.
class QtRuntime final : public QObject, public platform::Runtime {
public:
    QtRuntime();
    ~QtRuntime() override;

    platform::Seconds uptime() const override;
    platform::WallTime now() const override;
    platform::Registration after(platform::Seconds delay, std::function<void()> action) override;
    platform::Registration watchReadable(int fd, std::function<void()> onReadable) override;

    // Watches that are still registered (cancelled ones go before the loop next sleeps).
    std::size_t watchCount() const { return watches_.size(); }

private:
    struct Watch {
        std::shared_ptr<platform::Registration::State> state;
        std::shared_ptr<std::function<void()>> callback;
        std::unique_ptr<QSocketNotifier> notifier;
    };

    void arm();
    void runDue();
    void dropCancelledWatches();

    std::chrono::steady_clock::time_point origin_;
    platform::TimerQueue timers_;
    QTimer timer_;
    std::vector<Watch> watches_;
};

}  // namespace tesvano
