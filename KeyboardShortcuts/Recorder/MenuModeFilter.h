#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <cstdint>
#include <map>

class QKeyEvent;
class QMenu;

namespace KeyboardShortcuts {

// Keeps global shortcuts working while a menu of the program is open. An open Qt menu grabs
// the keyboard, so the system hot keys cannot fire; instead the library is put in menu mode
// (setMenuOpen) from the moment any QMenu of the program is shown until the last one is
// hidden, and the menu's own key events are fed to the hot-key layer. A key that belongs to a
// registered shortcut is kept from the menu, so no item of it is triggered; other keys reach
// the menu unchanged. Menus drawn by the desktop shell on the program's behalf are never shown
// as QMenus and so stay out of sight. One per program, made after the QApplication and the
// Library; it watches the whole application.
class MenuModeFilter final : public QObject {
    Q_OBJECT

public:
    explicit MenuModeFilter(QObject* parent = nullptr);
    ~MenuModeFilter() override;

    // Menus of the program shown now.
    int openMenuCount() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void menuShown(QMenu* menu);
    void menuHidden(QMenu* menu);
    void applyMode();
    bool handleKey(QKeyEvent* event);

    QList<QPointer<QMenu>> openMenus_;
    QSet<QObject*> watchedMenus_;
    // Shortcuts pressed inside the menu, by key code: the release of that key ends the
    // shortcut whatever the modifiers are doing by then.
    std::map<std::int64_t, std::int64_t> pressed_;
};

}  // namespace KeyboardShortcuts
