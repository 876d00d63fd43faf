#include "Tesvano/Menu/StatusItem.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "Tesvano/App/AppState.h"
#include "Tesvano/Menu/StatusMenu.h"

namespace tesvano {

StatusItem::StatusItem(AppState& state, StatusMenu& menu, QObject* parent)
    : QObject(parent), state_(state), menu_(menu) {
    update();
    connect(&state_, &AppState::trayIconHiddenChanged, this, [this] { update(); });
    connect(&state_, &AppState::configChanged, this, [this] { update(); });
    // A switch between light and dark repaints the icon.
    QCoreApplication::instance()->installEventFilter(this);
}

StatusItem::~StatusItem() = default;

QColor StatusItem::panelInk() {
    // The panel follows the desktop's colour scheme, as the application palette does.
    return QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText);
}

QIcon StatusItem::trayImage(bool locked, const QColor& ink) {
    const QIcon shape(locked ? QStringLiteral(":/icons/TrayLocked.svg")
                             : QStringLiteral(":/icons/TrayUnlocked.svg"));
    QIcon out;
    for (int side : {16, 22, 24, 32, 44, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.drawPixmap(0, 0, shape.pixmap(side, side));
        // The shape's coverage in the panel's text colour: dark on a light panel, light on a
        // dark one.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), ink);
        painter.end();
        out.addPixmap(pixmap);
    }
    return out;
}

bool StatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange && tray_) {
        showIcon(state_.config().isEnabled);
    }
    return QObject::eventFilter(watched, event);
}

bool StatusItem::isInserted() const {
    return tray_ != nullptr && tray_->isVisible();
}

void StatusItem::update() {
    if (state_.trayIconHidden()) {
        tray_.reset();
        shown_.reset();
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
    showIcon(state_.config().isEnabled);
    tray_->show();
}

void StatusItem::showIcon(bool locked) {
    const QColor ink = panelInk();
    if (ink != ink_) {
        ink_ = ink;
        icons_[0].reset();
        icons_[1].reset();
        shown_.reset();
    }
    if (shown_ == locked) {
        return;
    }
    auto& icon = icons_[locked ? 1 : 0];
    if (!icon) {
        icon = trayImage(locked, ink);
    }
    tray_->setIcon(*icon);
    shown_ = locked;
}

}  // namespace tesvano
