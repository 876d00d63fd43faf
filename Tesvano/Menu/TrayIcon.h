#pragma once

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QSystemTrayIcon;

namespace tesvano {

namespace platform {
class StatusNotifierItem;
}

class AppState;
class StatusMenu;

// The tray icon: present unless the user hid it ("menuBarIconHidden"), showing the locked or
// unlocked symbol, opening the status menu on a click. Where a StatusNotifierWatcher runs it is
// our own StatusNotifierItem with the status menu's rows; elsewhere Qt's tray icon (XEmbed). Where
// the desktop has no tray the program acts as if the icon were hidden (see
// AppDelegate::isTrayMissing).
class TrayIcon final : public QObject {
public:
    TrayIcon(AppState& state, StatusMenu& menu, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether the program wants the icon shown (the tray may still be missing).
    bool isInserted() const;
    // False while the watcher refuses our item or does not list it and no XEmbed tray shows
    // Qt's icon in its place: then nothing on screen leads to the program.
    bool isReachable() const;
    QSystemTrayIcon* qtTrayIcon() const { return tray_.get(); }

    // The locked (solid) or unlocked (hollow, shackle open) symbol in `ink`.
    static QIcon trayImage(bool locked, const QColor& ink);
    // The name of that symbol as a symbolic icon, for hosts that look it up by name.
    static QString themeIconName(bool locked);
    // What is known of the panel the icon sits on.
    struct PanelLook {
        // The colour the tray asks its icons to draw in.
        std::optional<QColor> foreground;
        std::optional<QColor> background;
    };
    // The tray's own colour where it names one, else whichever of light and dark ink stands
    // out on a known background, else the palette's text colour.
    static QColor inkFor(const PanelLook& panel, const QColor& paletteInk);
    // The panel's look as the session tells it: an XEmbed tray's colours, GNOME Shell's dark
    // panel where its host shows our item.
    PanelLook panelLook() const;
    // The ink of the icon and of the menu's row icons that a host draws as they come.
    QColor panelInk() const;
    // The theme icon's folder for `ink`: symbolic SVG files in that ink, for hosts that look
    // the icon up by name and draw it as it is. Empty when they cannot be written.
    static QString themeIconFolder(const QColor& ink);

    // The panel or its tray may have changed its colours; the icons follow.
    void panelChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();
    // Shows the symbol for the lock state in the panel's ink, unless it shows already.
    void showIcon(bool locked);
    void refreshMenu();
    void visibilityChanged();
    void showQtTray(bool shown);

    AppState& state_;
    StatusMenu& menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    // Both symbols in the current ink, each drawn once: a symbol drawn anew for every change
    // of the configuration left the icon engine's cache entries behind each time.
    QColor ink_;
    std::optional<QIcon> icons_[2];
    std::optional<bool> shown_;
    // The tray's colour, read once and again when it says it changed.
    std::optional<QColor> trayForeground_;
    // Qt's icon stands in on an XEmbed tray while the watcher does not show the item.
    bool standIn_ = false;
    std::unique_ptr<platform::StatusNotifierItem> item_;
    std::vector<QPointer<QAction>> rowActions_;
    bool menuRefreshPending_ = false;
};

}  // namespace tesvano
