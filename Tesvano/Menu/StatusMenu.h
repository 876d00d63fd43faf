#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace tesvano {

class AppState;

// The menu of the tray icon: the lock status (with the toggle shortcut beside it), one row per
// selectable source (the global default checked while locking is on), Settings, the update
// check, About and Quit. It keeps nothing of its own: it reads AppState and is rebuilt when
// anything it shows changes.
//
// The whole menu lives in this one class, so that whatever must follow the menu's opening and
// closing (the shortcut library's menu mode) hooks in through menu()'s aboutToShow and
// aboutToHide.
class StatusMenu final : public QObject {
public:
    // `terminate` asks the program to end (through its quit gate) once the Quit item has
    // marked the request as the user's.
    StatusMenu(AppState& state, std::function<void()> terminate, QObject* parent = nullptr);
    ~StatusMenu() override;

    QMenu* menu() const { return menu_.get(); }
    void rebuild();

    // Items by role, for whoever needs to reach them: "status", "source:<id>", "settings",
    // "update", "about", "quit".
    QAction* item(const QString& name) const;
    static bool showsCheck(const QAction* row);

private:
    AppState& state_;
    std::function<void()> terminate_;
    std::unique_ptr<QMenu> menu_;
};

}  // namespace tesvano
