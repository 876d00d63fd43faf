#include "PermissionFlow/Panels/PermissionFlowButton.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

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
    handLocaleToFlow();
    setButtonState(state_);
    connect(this, &QPushButton::clicked, this, [this] { handleTap(); });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState s) {
                if (s == Qt::ApplicationActive) {
                    refreshStatus();
                }
            });
}

PermissionFlowButton::PermissionFlowButton(PermissionFlowPane pane,
                                           std::vector<std::filesystem::path> suggested,
                                           std::unique_ptr<PermissionFlowController> controller,
                                           SymbolProvider symbols, QString title, QWidget* parent)
    : PermissionFlowButton(
          pane, std::move(suggested), std::move(controller), std::move(symbols),
          Label([title = std::move(title)](const PermissionFlowButtonState&) { return title; }),
          parent) {}

PermissionFlowButton::PermissionFlowButton(PermissionFlowPane pane,
                                           std::vector<std::filesystem::path> suggested,
                                           std::unique_ptr<PermissionFlowController> controller,
                                           SymbolProvider symbols, Label label, QWidget* parent)
    : PermissionFlowButton(pane, std::move(suggested), std::move(controller), std::move(symbols),
                           parent) {
    label_ = std::move(label);
    setButtonState(state_);
}

void PermissionFlowButton::handLocaleToFlow() {
    // "de_DE" and the like: the flow's panel and the settings it opens speak the same language.
    controller_->setLocaleIdentifier(locale().name().toStdString());
}

void PermissionFlowButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        handLocaleToFlow();
        setButtonState(state_);
    }
}

void PermissionFlowButton::showEvent(QShowEvent* event) {
    QPushButton::showEvent(event);
    refreshStatus();
}

void PermissionFlowButton::setButtonState(const PermissionFlowButtonState& state) {
    state_ = state;
    setText(label_ ? label_(state)
                   : QString::fromStdString(PermissionFlowResources::localizedString(
                         state.titleKey, state.defaultTitle, controller_->localeIdentifier())));
    if (symbols_) {
        setIcon(symbols_(state.systemImage));
    }
    // Granted reads in green, as desktops mark a thing that is done; otherwise the usual ink.
    QPalette tinted = QApplication::palette(this);
    if (state.isGranted) {
        const bool dark = tinted.color(QPalette::Button).lightness() < 128;
        tinted.setColor(QPalette::ButtonText,
                        dark ? QColor(0x8B, 0xD3, 0x8F) : QColor(0x2E, 0x7D, 0x32));
    }
    setPalette(tinted);
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
