#pragma once

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPointer>
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
    QSystemTrayIcon* qtTrayIcon() const { return tray_.get(); }

    // The locked (solid) or unlocked (hollow, shackle open) symbol in `ink`.
    static QIcon trayImage(bool locked, const QColor& ink);
    // The name of that symbol as a symbolic icon, for hosts that look it up by name.
    static QString themeIconName(bool locked);
    // The colour the panel writes its text in.
    static QColor panelInk();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();
    // Shows the symbol for the lock state in the panel's ink, unless it shows already.
    void showIcon(bool locked);
    void refreshMenu();

    AppState& state_;
    StatusMenu& menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    // Both symbols in the current ink, each drawn once: a symbol drawn anew for every change
    // of the configuration left the icon engine's cache entries behind each time.
    QColor ink_;
    std::optional<QIcon> icons_[2];
    std::optional<bool> shown_;
    std::unique_ptr<platform::StatusNotifierItem> item_;
    std::vector<QPointer<QAction>> rowActions_;
    bool menuRefreshPending_ = false;
};

}  // namespace tesvano
