#include "KeyboardShortcuts/Recorder/WidgetShortcut.h"

#include <QEvent>
#include <QWidget>
#include <utility>

namespace KeyboardShortcuts {

namespace {

// Follows the widget's visibility; a child of the widget, so the subscription ends with it.
class VisibilitySubscription final : public QObject {
public:
    VisibilitySubscription(QWidget& widget, Name name, std::function<void(EventType)> handler)
        : QObject(&widget), name_(std::move(name)), handler_(std::move(handler)) {
        widget.installEventFilter(this);
        if (widget.isVisible()) {
            start();
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent()) {
            if (event->type() == QEvent::Show) {
                start();
            } else if (event->type() == QEvent::Hide) {
                subscription_.cancel();
            }
        }
        return false;
    }

private:
    void start() {
        if (!subscription_.active()) {
            subscription_ = events(name_, handler_);
        }
    }

    Name name_;
    std::function<void(EventType)> handler_;
    tesvano::platform::Registration subscription_;
};

}  // namespace

void onKeyboardShortcut(QWidget& widget, const Name& name, std::function<void(EventType)> handler) {
    new VisibilitySubscription(widget, name, std::move(handler));
}

void onKeyboardShortcut(QWidget& widget, const Name& name, EventType type,
                        std::function<void()> handler) {
    onKeyboardShortcut(widget, name, [type, handler = std::move(handler)](EventType event) {
        if (event == type) {
            handler();
        }
    });
}

}  // namespace KeyboardShortcuts
