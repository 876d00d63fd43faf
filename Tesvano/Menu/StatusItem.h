#pragma once

#include <QIcon>
#include <QObject>
#include <memory>

class QSystemTrayIcon;

namespace tesvano {

class AppState;
class StatusMenu;

// The tray icon: present unless the user hid it ("menuBarIconHidden"), showing the locked or
// unlocked symbol, opening the status menu on a click. Where the desktop has no tray the
// program acts as if the icon were hidden (see AppDelegate::isStatusItemHidden).
class StatusItem final : public QObject {
public:
    StatusItem(AppState& state, StatusMenu& menu, QObject* parent = nullptr);
    ~StatusItem() override;

    // Whether the program wants the icon shown (the tray may still be missing).
    bool isInserted() const;
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }

    static QIcon trayImage(bool locked);

private:
    void update();

    AppState& state_;
    StatusMenu& menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
};

}  // namespace tesvano
