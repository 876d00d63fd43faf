#include "PermissionFlow/Panels/PermissionFlowButton.h"

#include <QCursor>
#include <QGuiApplication>

#include "PermissionFlow/PermissionFlowResources.h"
#include "PermissionFlow/PermissionStatus.h"

namespace PermissionFlow {

PermissionFlowButton::PermissionFlowButton(PermissionFlowPane pane,
                                           std::vector<std::filesystem::path> suggested,
                                           std::unique_ptr<PermissionFlowController> controller,
                                           SymbolProvider symbols, QWidget* parent)
    : QPushButton(parent),
      pane_(pane),
      suggested_(std::move(suggested)),
      controller_(std::move(controller)),
      symbols_(std::move(symbols)) {
    setButtonState(state_);
    connect(this, &QPushButton::clicked, this, [this] { handleTap(); });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState s) {
                if (s == Qt::ApplicationActive) {
                    refreshStatus();
                }
            });
}

void PermissionFlowButton::showEvent(QShowEvent* event) {
    QPushButton::showEvent(event);
    refreshStatus();
}

void PermissionFlowButton::setButtonState(const PermissionFlowButtonState& state) {
    state_ = state;
    setText(QString::fromStdString(PermissionFlowResources::localizedString(
        state.titleKey, state.defaultTitle, controller_->localeIdentifier())));
    if (symbols_) {
        setIcon(symbols_(state.systemImage));
    }
}

void PermissionFlowButton::refreshStatus() {
    setButtonState(
        PermissionFlowButtonState::forState(PermissionStatusRegistry::provider(pane_)->status()));
}

void PermissionFlowButton::handleTap() {
    switch (pane_) {
        case PermissionFlowPane::calendars:
        case PermissionFlowPane::camera:
        case PermissionFlowPane::microphone:
        case PermissionFlowPane::reminders:
            // Nothing on Linux asks the user for these: look again, then show the settings.
            setButtonState(
                PermissionFlowButtonState::forState(PermissionAuthorizationState::checking));
            refreshStatus();
            controller_->open(pane_, {});
            return;
        default:
            break;
    }
    const QPoint at = QCursor::pos();
    controller_->open(pane_, suggested_, Rect{at.x() - 16.0, at.y() - 16.0, 32, 32});
}

}  // namespace PermissionFlow
