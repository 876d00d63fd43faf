#include "Tesvano/Menu/StatusItem.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

#include "Tesvano/App/AppState.h"
#include "Tesvano/Menu/StatusMenu.h"

namespace tesvano {

StatusItem::StatusItem(AppState& state, StatusMenu& menu, QObject* parent)
    : QObject(parent), state_(state), menu_(menu) {
    update();
    connect(&state_, &AppState::trayIconHiddenChanged, this, [this] { update(); });
    connect(&state_, &AppState::configChanged, this, [this] { update(); });
}

StatusItem::~StatusItem() = default;

QIcon StatusItem::trayImage(bool locked) {
    return QIcon(locked ? QStringLiteral(":/icons/TrayLocked.svg")
                        : QStringLiteral(":/icons/TrayUnlocked.svg"));
}

bool StatusItem::isInserted() const {
    return tray_ != nullptr && tray_->isVisible();
}

void StatusItem::update() {
    if (state_.trayIconHidden()) {
        tray_.reset();
        return;
    }
    if (!tray_) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setToolTip(QStringLiteral("Tesvano"));
        tray_->setContextMenu(menu_.menu());
        // A click opens the menu too, as a menu-bar item does.
        connect(tray_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) {
                        menu_.menu()->popup(QCursor::pos());
                    }
                });
    }
    tray_->setIcon(trayImage(state_.config().isEnabled));
    tray_->show();
}

}  // namespace tesvano
