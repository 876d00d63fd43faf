#include "Tesvano/Menu/TrayIcon.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

#include "Platform/Log/Log.h"
#include "Platform/Workspace/StatusNotifierItem.h"
#include "Platform/Workspace/TrayHosts.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Menu/TrayMenuRows.h"

namespace tesvano {

namespace {

// The icon's sizes for a StatusNotifierItem: ARGB32 in network byte order.
std::vector<platform::TrayIconPixmap> pixmapsOf(const QIcon& icon) {
    std::vector<platform::TrayIconPixmap> pixmaps;
    for (int side : {16, 22, 24, 32, 48}) {
        const QImage image =
            icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
        platform::TrayIconPixmap pixmap{image.width(), image.height(), {}};
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                for (int part : {qAlpha(p), qRed(p), qGreen(p), qBlue(p)}) {
                    pixmap.argb.push_back(static_cast<std::uint8_t>(part));
                }
            }
        }
        pixmaps.push_back(std::move(pixmap));
    }
    return pixmaps;
}

QString shapePath(bool locked) {
    return locked ? QStringLiteral(":/icons/TrayLocked.svg")
                  : QStringLiteral(":/icons/TrayUnlocked.svg");
}

// Our two shapes as loose symbolic icons in a folder of this session's own, written once: a
// host that looks an icon up by name reads it from a file. Empty when they cannot be written.
const QString& themeIconFolder() {
    static const QString folder = [] {
        const QString path = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                             QStringLiteral("/tesvano/tray-icons");
        if (!QDir().mkpath(path)) {
            return QString();
        }
        for (const bool locked : {true, false}) {
            QFile shape(shapePath(locked));
            QSaveFile file(path + QLatin1Char('/') + TrayIcon::themeIconName(locked) +
                           QStringLiteral(".svg"));
            if (!shape.open(QIODevice::ReadOnly) || !file.open(QIODevice::WriteOnly) ||
                file.write(shape.readAll()) < 0 || !file.commit()) {
                return QString();
            }
        }
        return path;
    }();
    return folder;
}

}  // namespace

QString TrayIcon::themeIconName(bool locked) {
    return locked ? QStringLiteral("tesvano-tray-locked-symbolic")
                  : QStringLiteral("tesvano-tray-unlocked-symbolic");
}

TrayIcon::TrayIcon(AppState& state, StatusMenu& menu, QObject* parent)
    : QObject(parent), state_(state), menu_(menu) {
    update();
    connect(&state_, &AppState::trayIconHiddenChanged, this, [this] { update(); });
    connect(&state_, &AppState::configChanged, this, [this] { update(); });
    // The menu's rows follow what the status menu rebuilds on.
    for (auto signal : {&AppState::availableSourcesChanged, &AppState::languagePreferenceChanged,
                        &AppState::updateStateChanged}) {
        connect(&state_, signal, this, [this] { refreshMenu(); });
    }
    // The icon's description is in the interface language.
    connect(&state_, &AppState::languagePreferenceChanged, this, [this] {
        shown_.reset();
        if (item_) {
            showIcon(state_.config().isEnabled);
        }
    });
    // A switch between light and dark repaints the icon.
    QCoreApplication::instance()->installEventFilter(this);
}

TrayIcon::~TrayIcon() = default;

QColor TrayIcon::panelInk() {
    // The panel follows the desktop's colour scheme, as the application palette does.
    return QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText);
}

QIcon TrayIcon::trayImage(bool locked, const QColor& ink) {
    const QIcon shape(shapePath(locked));
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

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange && (tray_ || item_)) {
        showIcon(state_.config().isEnabled);
    }
    // A row that changes by itself (the toggle shortcut set in Settings) reaches the host too;
    // a rebuild's many changes go out as one.
    const auto type = event->type();
    if (watched == menu_.menu() && item_ && !menuRefreshPending_ &&
        (type == QEvent::ActionChanged || type == QEvent::ActionAdded ||
         type == QEvent::ActionRemoved)) {
        menuRefreshPending_ = true;
        QTimer::singleShot(0, this, [this] { refreshMenu(); });
    }
    return QObject::eventFilter(watched, event);
}

bool TrayIcon::isInserted() const {
    return item_ != nullptr || (tray_ != nullptr && tray_->isVisible());
}

void TrayIcon::showIcon(bool locked) {
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
    if (tray_) {
        tray_->setIcon(*icon);
    }
    if (item_) {
        const QString description =
            QStringLiteral("Tesvano: %1").arg(state_.text(locked ? "Enabled" : "Disabled"));
        platform::StatusNotifierItem::ThemeIcon named;
        if (const QString& folder = themeIconFolder(); !folder.isEmpty()) {
            named = {themeIconName(locked).toStdString(), folder.toStdString()};
        }
        item_->setIcon(pixmapsOf(*icon), description.toStdString(), named);
    }
    shown_ = locked;
}

void TrayIcon::refreshMenu() {
    menuRefreshPending_ = false;
    if (item_) {
        item_->setMenu(trayMenuRows(*menu_.menu(), rowActions_));
    }
}

void TrayIcon::update() {
    if (state_.trayIconHidden()) {
        tray_.reset();
        item_.reset();
        shown_.reset();
        return;
    }
    if (!tray_ && !item_ && platform::statusNotifierWatcherRuns()) {
        platform::StatusNotifierItem::Handlers handlers;
        handlers.chosen = [this](std::size_t row) {
            if (row < rowActions_.size() && rowActions_[row]) {
                rowActions_[row]->trigger();
            }
        };
        handlers.menuOpening = [this] { refreshMenu(); };
        handlers.activated = [this] { menu_.menu()->popup(QCursor::pos()); };
        if (auto item = platform::StatusNotifierItem::open(state_.runtime(), "Tesvano",
                                                           std::move(handlers))) {
            item_ = std::move(*item);
        } else {
            static const platform::Logger log("TrayIcon");
            log.notice("%{public}s; using Qt's tray icon", item.error());
        }
    }
    if (item_) {
        showIcon(state_.config().isEnabled);
        refreshMenu();
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

}  // namespace tesvano
