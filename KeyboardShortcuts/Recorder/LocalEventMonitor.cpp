#include "KeyboardShortcuts/Recorder/LocalEventMonitor.h"

#include <QCoreApplication>
#include <utility>

namespace KeyboardShortcuts {

LocalEventMonitor::LocalEventMonitor(QSet<QEvent::Type> events, Callback callback, QObject* parent)
    : QObject(parent), events_(std::move(events)), callback_(std::move(callback)) {}

LocalEventMonitor::~LocalEventMonitor() {
    stop();
}

void LocalEventMonitor::start() {
    if (active_ || QCoreApplication::instance() == nullptr) {
        return;
    }
    QCoreApplication::instance()->installEventFilter(this);
    active_ = true;
}

void LocalEventMonitor::stop() {
    if (!active_) {
        return;
    }
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    active_ = false;
}

bool LocalEventMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (!active_ || !events_.contains(event->type()) || !callback_) {
        return false;
    }
    // A copy: the callback may stop or destroy this monitor.
    const Callback callback = callback_;
    return callback(watched, event);
}

}  // namespace KeyboardShortcuts
