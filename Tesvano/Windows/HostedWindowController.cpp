#include "Tesvano/Windows/HostedWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

namespace tesvano {

class HostedWindowController::Window final : public QWidget {
public:
    std::function<void()> onClose;

protected:
    void closeEvent(QCloseEvent* event) override {
        if (onClose) {
            onClose();
        }
        QWidget::closeEvent(event);
    }
};

HostedWindowController::HostedWindowController(Options options) : options_(std::move(options)) {}

HostedWindowController::~HostedWindowController() = default;

QWidget* HostedWindowController::window() const {
    return window_.get();
}

void HostedWindowController::makeWindow() {
    window_ = std::make_unique<Window>();
    window_->setObjectName(QStringLiteral("hosted.") + QString::fromStdString(options_.id));
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // the window keeps to its content
    std::weak_ptr<int> alive = lifetime_;
    window_->onClose = [this, alive] {
        if (!alive.expired() && options_.onClose) {
            options_.onClose();
        }
    };
    // Ctrl+W and Escape close these small windows, as they close dialogs.
    for (const QKeySequence& key :
         {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape)}) {
        auto* shortcut = new QShortcut(key, window_.get());
        QObject::connect(shortcut, &QShortcut::activated, window_.get(), &QWidget::close);
    }
    installContent();
}

void HostedWindowController::installContent() {
    if (!options_.makeContent) {
        return;
    }
    std::weak_ptr<int> alive = lifetime_;
    QWidget* content = options_.makeContent([this, alive] {
        if (!alive.expired()) {
            closeWindow();
        }
    });
    if (content != nullptr) {
        window_->layout()->addWidget(content);
    }
}

void HostedWindowController::rebuildContent() {
    if (!window_) {
        return;
    }
    while (auto* item = window_->layout()->takeAt(0)) {
        if (auto* widget = item->widget()) {
            widget->deleteLater();
        }
        delete item;
    }
    installContent();
}

void HostedWindowController::show() {
    if (!window_) {
        makeWindow();
    }
    refreshTitle();
    if (!didCenter_) {
        window_->adjustSize();
        if (auto* screen = window_->screen() ? window_->screen() : QApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            window_->move(area.center() - window_->rect().center());
        }
        didCenter_ = true;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void HostedWindowController::refreshTitle() {
    if (window_ && options_.title) {
        window_->setWindowTitle(options_.title());
    }
}

void HostedWindowController::closeWindow() {
    if (window_) {
        window_->close();
    }
}

}  // namespace tesvano
