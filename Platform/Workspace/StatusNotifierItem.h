#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// One row of the tray item's menu.
struct TrayMenuRow {
    std::string label;
    bool enabled = true;
    bool separator = false;
    // Drawn with a check mark box, ticked when `checked`.
    bool checkable = false;
    bool checked = false;
    // The key press shown beside the label, as dbusmenu names it: the modifiers ("Control",
    // "Alt", "Shift", "Super") and then the key's X keysym name ("l", "F5", "space").
    std::vector<std::string> shortcut;
    // The row's icon as a PNG file; none for rows without one.
    std::vector<std::uint8_t> iconPng;
    bool operator==(const TrayMenuRow&) const = default;
};

// One size of the icon: width × height pixels, ARGB32 in network byte order.
struct TrayIconPixmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> argb;
    bool operator==(const TrayIconPixmap&) const = default;
};

// The tray icon as a StatusNotifierItem on the session bus (org.kde.StatusNotifierItem at
// /StatusNotifierItem, its menu as com.canonical.dbusmenu at /MenuBar), registered with the
// StatusNotifierWatcher and again whenever a watcher appears. A watcher that refuses the item,
// does not answer, or does not list it a few seconds after taking it, and a bus that drops the
// connection, are met with a new connection and a new name after a back-off (1 s doubling to
// a minute), for as long as the item lives. It answers every property the
// hosts read, the accessible descriptions and the Ayatana label included: GNOME's AppIndicator
// extension reads them on each icon change and stops at a missing one.
class StatusNotifierItem {
public:
    // Whether a watcher shows the item: not known yet (registering, or no watcher), listed, or
    // refused, silent or not listing it.
    enum class Visibility { pending, shown, unseen };

    struct Handlers {
        // A menu row was chosen (its index in the last setMenu).
        std::function<void(std::size_t row)> chosen;
        // The host is about to show the menu.
        std::function<void()> menuOpening;
        // A click on the icon, for hosts that do not open the menu themselves.
        std::function<void()> activated;
        // Runs from the loop when visibility() changed.
        std::function<void(Visibility)> visibilityChanged;
    };

    // Fails with a readable reason when there is no session bus.
    static std::expected<std::unique_ptr<StatusNotifierItem>, std::string> open(
        Runtime& runtime, const std::string& title, Handlers handlers);
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // The same icon as a symbolic one in a folder of loose icons, for hosts that draw such an
    // icon in their panel's colours; offered to every host, the pixmaps staying for those that
    // cannot read it.
    struct ThemeIcon {
        std::string name;
        std::string path;
    };
    void setIcon(std::vector<TrayIconPixmap> pixmaps, const std::string& description,
                 const ThemeIcon& themeIcon = {});
    void setMenu(std::vector<TrayMenuRow> rows);
    // The bus name the item answers under; a new one with each new connection.
    const std::string& busName() const;
    Visibility visibility() const;
    // Whether the watcher is GNOME Shell's AppIndicator extension, which hosts the item in the
    // shell's own panel.
    bool hostIsGnomeShell() const;

private:
    struct Impl;
    explicit StatusNotifierItem(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano::platform
