#pragma once

#include <QEvent>
#include <QObject>
#include <QSet>
#include <functional>

namespace KeyboardShortcuts {

// Watches the events of the given types that any object of the program receives, before the
// object does. The callback answers true to swallow an event. Active from start() until
// stop() or destruction.
class LocalEventMonitor final : public QObject {
    Q_OBJECT

public:
    using Callback = std::function<bool(QObject* receiver, QEvent* event)>;

    LocalEventMonitor(QSet<QEvent::Type> events, Callback callback, QObject* parent = nullptr);
    ~LocalEventMonitor() override;

    void start();
    void stop();
    bool isActive() const { return active_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSet<QEvent::Type> events_;
    Callback callback_;
    bool active_ = false;
};

}  // namespace KeyboardShortcuts
