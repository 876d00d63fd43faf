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
#include <algorithm>
#include <cmath>
#include <map>

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

// WCAG's relative luminance and contrast ratio.
double luminance(const QColor& colour) {
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// GNOME Shell's own panel and menus are dark but in the Classic session.
bool gnomeShellPanelIsDark() {
    return !qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QStringLiteral("Classic"));
}

}  // namespace

QString TrayIcon::themeIconName(bool locked) {
    return locked ? QStringLiteral("tesvano-tray-locked-symbolic")
                  : QStringLiteral("tesvano-tray-unlocked-symbolic");
}

// Our two shapes as loose symbolic icons in a folder of this session's own, one folder for each
// ink, written once: a host that looks an icon up by name reads it from a file, recolours it
// where it recolours symbolic icons (GNOME Shell, Cinnamon, GTK and Plasma panels), and shows it
// in our ink where it does not. Loose in the folder and in its hicolor tree, for hosts that read
// either.
QString TrayIcon::themeIconFolder(const QColor& ink) {
    static std::map<QRgb, QString> folders;
    const QRgb key = ink.rgb();
    if (const auto it = folders.find(key); it != folders.end()) {
        return it->second;
    }
    const QString path = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                         QStringLiteral("/tesvano/tray-icons/") + ink.name().mid(1);
    const QString tree = path + QStringLiteral("/hicolor/scalable/apps");
    bool written = QDir().mkpath(tree);
    for (const bool locked : {true, false}) {
        QFile shape(shapePath(locked));
        written = written && shape.open(QIODevice::ReadOnly);
        const QByteArray fill = QByteArrayLiteral("fill=\"") + ink.name().toLatin1() + '"';
        const QByteArray svg =
            written ? shape.readAll().replace(QByteArrayLiteral("fill=\"#000\""), fill)
                    : QByteArray();
        for (const QString& folder : {path, tree}) {
            QSaveFile file(folder + QLatin1Char('/') + themeIconName(locked) +
                           QStringLiteral(".svg"));
            written =
                written && file.open(QIODevice::WriteOnly) && file.write(svg) >= 0 && file.commit();
        }
    }
    return folders.emplace(key, written ? path : QString()).first->second;
}

TrayIcon::TrayIcon(AppState& state, StatusMenu& menu, QObject* parent)
    : QObject(parent), state_(state), menu_(menu) {
    panelChanged();
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

QColor TrayIcon::inkFor(const PanelLook& panel, const QColor& paletteInk) {
    if (panel.foreground) {
        return *panel.foreground;
    }
    if (!panel.background) {
        return paletteInk;
    }
    // The palette's ink where it reads well (WCAG's 4.5:1), else the better of light and dark.
    const QColor& background = *panel.background;
    if (contrast(paletteInk, background) >= 4.5) {
        return paletteInk;
    }
    const QColor light(0xF2, 0xF2, 0xF2);
    const QColor dark(0x20, 0x20, 0x20);
    return contrast(light, background) >= contrast(dark, background) ? light : dark;
}

TrayIcon::PanelLook TrayIcon::panelLook() const {
    PanelLook look;
    look.foreground = trayForeground_;
    if (item_ && item_->hostIsGnomeShell() && gnomeShellPanelIsDark()) {
        look.background = QColor(Qt::black);
    }
    return look;
}

QColor TrayIcon::panelInk() const {
    // Without word from the panel: the desktop's colour scheme, as the application palette
    // has it.
    return inkFor(panelLook(),
                  QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText));
}

void TrayIcon::panelChanged() {
    if (const auto colour = platform::readTrayForeground()) {
        trayForeground_ = QColor(colour->red, colour->green, colour->blue);
    } else {
        trayForeground_.reset();
    }
    if (tray_ || item_) {
        showIcon(state_.config().isEnabled);
        refreshMenu();
    }
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

bool TrayIcon::isReachable() const {
    using Visibility = platform::StatusNotifierItem::Visibility;
    return !item_ || item_->visibility() != Visibility::unseen || (standIn_ && tray_);
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
        if (const QString folder = themeIconFolder(ink); !folder.isEmpty()) {
            named = {themeIconName(locked).toStdString(), folder.toStdString()};
        }
        item_->setIcon(pixmapsOf(*icon), description.toStdString(), named);
    }
    shown_ = locked;
}

void TrayIcon::refreshMenu() {
    menuRefreshPending_ = false;
    if (item_) {
        // The row icons a host draws as they come, in the panel's ink where the panel is known
        // (its menus are of a piece with it); as the Qt menu has them elsewhere.
        const PanelLook look = panelLook();
        const bool known = look.foreground || look.background;
        item_->setMenu(trayMenuRows(*menu_.menu(), rowActions_,
                                    known ? std::optional<QColor>(panelInk()) : std::nullopt));
    }
}

void TrayIcon::visibilityChanged() {
    using Visibility = platform::StatusNotifierItem::Visibility;
    const auto visibility = item_ ? item_->visibility() : Visibility::pending;
    if (visibility == Visibility::unseen && !standIn_ && platform::xembedTrayRuns()) {
        static const platform::Logger log("TrayIcon");
        log.notice("the tray's watcher does not show the item; Qt's tray icon stands in");
        standIn_ = true;
    } else if (visibility == Visibility::shown) {
        standIn_ = false;
    }
    // The host decides the ink too (GNOME Shell's dark panel).
    shown_.reset();
    update();
    state_.trayHostsChanged();
}

void TrayIcon::showQtTray(bool shown) {
    if (!shown) {
        tray_.reset();
        return;
    }
    if (tray_) {
        return;
    }
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
    shown_.reset();
}

void TrayIcon::update() {
    if (state_.trayIconHidden()) {
        tray_.reset();
        item_.reset();
        shown_.reset();
        standIn_ = false;
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
        handlers.visibilityChanged = [this](platform::StatusNotifierItem::Visibility) {
            visibilityChanged();
        };
        if (auto item = platform::StatusNotifierItem::open(state_.runtime(), "Tesvano",
                                                           std::move(handlers))) {
            item_ = std::move(*item);
        } else {
            static const platform::Logger log("TrayIcon");
            log.notice("%{public}s; using Qt's tray icon", item.error());
        }
    }
    showQtTray(!item_ || standIn_);
    showIcon(state_.config().isEnabled);
    if (item_) {
        refreshMenu();
    }
    if (tray_) {
        tray_->show();
    }
}

}  // namespace tesvano
