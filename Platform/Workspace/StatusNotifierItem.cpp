#include "Platform/Workspace/StatusNotifierItem.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "Platform/DBus/SessionBus.h"
#include "Platform/Log/Log.h"

namespace tesvano::platform {

namespace {

const Logger& logger() {
    static const Logger log("StatusNotifierItem");
    return log;
}

constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";

int appendPixmaps(sd_bus_message* m, const std::vector<TrayIconPixmap>& pixmaps) {
    int r = sd_bus_message_open_container(m, 'a', "(iiay)");
    for (const auto& pixmap : pixmaps) {
        if (r >= 0) {
            r = sd_bus_message_open_container(m, 'r', "iiay");
        }
        if (r >= 0) {
            r = sd_bus_message_append(m, "ii", pixmap.width, pixmap.height);
        }
        if (r >= 0) {
            r = sd_bus_message_append_array(m, 'y', pixmap.argb.data(), pixmap.argb.size());
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(m);
        }
    }
    return r >= 0 ? sd_bus_message_close_container(m) : r;
}

// dbusmenu writes a mnemonic as '_' and a plain underscore doubled.
std::string menuLabel(const std::string& label) {
    std::string out;
    for (const char c : label) {
        out += c == '_' ? std::string("__") : std::string(1, c);
    }
    return out;
}

}  // namespace

struct StatusNotifierItem::Impl {
    Runtime& runtime;
    dbus::Connection connection;
    sd_bus* bus = connection.get();
    std::string name;
    std::string title;
    Handlers handlers;
    std::vector<TrayIconPixmap> pixmaps;
    std::string description;
    std::string themeIconName;
    std::string themePath;
    bool themed = false;
    std::vector<TrayMenuRow> rows;
    std::uint32_t revision = 1;
    dbus::Slot itemSlot;
    dbus::Slot menuSlot;
    dbus::NameWatcher shell{"org.gnome.Shell", [this](const std::string&) { hostChanged(); }};
    // A watcher that starts (or starts again) after us learns of the item from us.
    dbus::NameWatcher watcher{kWatcher, [this](const std::string& owner) {
                                  hostChanged();
                                  if (!owner.empty()) {
                                      registerWithWatcher();
                                  }
                              }};
    std::optional<dbus::BusLoop> loop;
    dbus::Lifetime lifetime;

    Impl(Runtime& rt, dbus::Connection c) : runtime(rt), connection(std::move(c)) {}

    // GNOME's AppIndicator host (watcher and host inside the shell) draws pixmaps as they come,
    // in our palette's ink on its own dark panel, but recolours a symbolic icon in the panel's
    // foreground as it does its own: it gets the icon by name. Hosts elsewhere get the pixmaps
    // drawn in their ink, as they do not recolour a named icon.
    bool usesThemeIcon() const {
        return !themeIconName.empty() && !watcher.owner().empty() &&
               watcher.owner() == shell.owner();
    }

    void hostChanged() {
        if (usesThemeIcon() == themed) {
            return;
        }
        themed = !themed;
        announceIcon();
    }

    void announceIcon() {
        sd_bus_emit_signal(bus, kItemPath, kItemInterface, "NewIconThemePath", "s",
                           themed ? themePath.c_str() : "");
        sd_bus_emit_signal(bus, kItemPath, kItemInterface, "NewIcon", "");
    }

    // Handlers run from the loop: they may open windows, and the bus is busy with this call.
    void later(std::function<void()> action) { lifetime.later(runtime, std::move(action)); }

    void registerWithWatcher() {
        const int r = sd_bus_call_method_async(
            bus, nullptr, kWatcher, "/StatusNotifierWatcher", kWatcher,
            "RegisterStatusNotifierItem",
            [](sd_bus_message* reply, void*, sd_bus_error*) {
                if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
                    logger().notice("the tray's watcher refused the item: %{public}s",
                                    std::string(error->message ? error->message : "?"));
                }
                return 0;
            },
            nullptr, "s", name.c_str());
        if (r < 0) {
            logger().notice("cannot register with the tray's watcher: %{public}s",
                            std::string(std::strerror(-r)));
        }
    }

    static int itemProperty(sd_bus*, const char*, const char*, const char* property,
                            sd_bus_message* reply, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        const std::string_view name(property);
        if (name == "Category") {
            return sd_bus_message_append(reply, "s", "ApplicationStatus");
        }
        if (name == "Id" || name == "Title") {
            return sd_bus_message_append(reply, "s", self->title.c_str());
        }
        if (name == "Status") {
            return sd_bus_message_append(reply, "s", "Active");
        }
        if (name == "WindowId") {
            return sd_bus_message_append(reply, "i", 0);
        }
        if (name == "Menu") {
            return sd_bus_message_append(reply, "o", kMenuPath);
        }
        if (name == "ItemIsMenu") {
            return sd_bus_message_append(reply, "b", 1);
        }
        if (name == "IconName" || name == "IconThemePath") {
            const std::string& value = name == "IconName" ? self->themeIconName : self->themePath;
            return sd_bus_message_append(reply, "s", self->usesThemeIcon() ? value.c_str() : "");
        }
        if (name == "IconPixmap") {
            return appendPixmaps(reply, self->pixmaps);
        }
        if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") {
            return appendPixmaps(reply, {});
        }
        if (name == "IconAccessibleDesc" || name == "AttentionAccessibleDesc") {
            return sd_bus_message_append(reply, "s", self->description.c_str());
        }
        if (name == "XAyatanaOrderingIndex") {
            return sd_bus_message_append(reply, "u", 0U);
        }
        if (name == "ToolTip") {
            int r = sd_bus_message_open_container(reply, 'r', "sa(iiay)ss");
            if (r >= 0) {
                r = sd_bus_message_append(reply, "s", "");
            }
            if (r >= 0) {
                r = appendPixmaps(reply, {});
            }
            if (r >= 0) {
                r = sd_bus_message_append(reply, "ss", self->title.c_str(),
                                          self->description.c_str());
            }
            return r >= 0 ? sd_bus_message_close_container(reply) : r;
        }
        // The overlay's and attention's icon names, the attention movie and the Ayatana label:
        // none.
        return sd_bus_message_append(reply, "s", "");
    }

    static int onActivate(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        self->later([self] {
            if (self->handlers.activated) {
                self->handlers.activated();
            }
        });
        return sd_bus_reply_method_return(m, "");
    }

    static int ignore(sd_bus_message* m, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(m, "");
    }

    static int menuProperty(sd_bus*, const char*, const char*, const char* property,
                            sd_bus_message* reply, void*, sd_bus_error*) {
        const std::string_view name(property);
        if (name == "Version") {
            return sd_bus_message_append(reply, "u", 3U);
        }
        if (name == "IconThemePath") {
            return sd_bus_message_append(reply, "as", 0);
        }
        return sd_bus_message_append(reply, "s", name == "Status" ? "normal" : "ltr");
    }

    // The properties of the root (0) or of row id − 1.
    int appendProperties(sd_bus_message* m, int id) {
        int r = sd_bus_message_open_container(m, 'a', "{sv}");
        if (id == 0) {
            r = r >= 0 ? sd_bus_message_append(m, "{sv}", "children-display", "s", "submenu") : r;
        } else if (const auto& row = rows[static_cast<std::size_t>(id - 1)]; row.separator) {
            r = r >= 0 ? sd_bus_message_append(m, "{sv}", "type", "s", "separator") : r;
        } else {
            const std::string label = menuLabel(row.label);
            r = r >= 0 ? sd_bus_message_append(m, "{sv}{sv}", "label", "s", label.c_str(),
                                               "enabled", "b", row.enabled ? 1 : 0)
                       : r;
            if (row.checkable && r >= 0) {
                r = sd_bus_message_append(m, "{sv}{sv}", "toggle-type", "s", "checkmark",
                                          "toggle-state", "i", row.checked ? 1 : 0);
            }
            if (!row.shortcut.empty() && r >= 0) {
                r = appendShortcut(m, row.shortcut);
            }
            if (!row.iconPng.empty() && r >= 0) {
                r = sd_bus_message_open_container(m, 'e', "sv");
                r = r >= 0 ? sd_bus_message_append(m, "s", "icon-data") : r;
                r = r >= 0 ? sd_bus_message_open_container(m, 'v', "ay") : r;
                r = r >= 0 ? sd_bus_message_append_array(m, 'y', row.iconPng.data(),
                                                         row.iconPng.size())
                           : r;
                r = r >= 0 ? sd_bus_message_close_container(m) : r;
                r = r >= 0 ? sd_bus_message_close_container(m) : r;
            }
        }
        return r >= 0 ? sd_bus_message_close_container(m) : r;
    }

    // One key press: dbusmenu allows a sequence of them, ours are single.
    static int appendShortcut(sd_bus_message* m, const std::vector<std::string>& keys) {
        int r = sd_bus_message_open_container(m, 'e', "sv");
        r = r >= 0 ? sd_bus_message_append(m, "s", "shortcut") : r;
        r = r >= 0 ? sd_bus_message_open_container(m, 'v', "aas") : r;
        r = r >= 0 ? sd_bus_message_open_container(m, 'a', "as") : r;
        r = r >= 0 ? sd_bus_message_open_container(m, 'a', "s") : r;
        for (const auto& key : keys) {
            r = r >= 0 ? sd_bus_message_append(m, "s", key.c_str()) : r;
        }
        for (int level = 0; level < 4 && r >= 0; ++level) {
            r = sd_bus_message_close_container(m);
        }
        return r;
    }

    // The properties a row sends; those it sent before and no longer does are announced as
    // removed, or a host keeps showing them.
    static std::vector<std::string> propertyNames(const TrayMenuRow& row) {
        if (row.separator) {
            return {"type"};
        }
        std::vector<std::string> names{"label", "enabled"};
        if (row.checkable) {
            names.insert(names.end(), {"toggle-type", "toggle-state"});
        }
        if (!row.shortcut.empty()) {
            names.emplace_back("shortcut");
        }
        if (!row.iconPng.empty()) {
            names.emplace_back("icon-data");
        }
        return names;
    }

    static bool sameShape(const std::vector<TrayMenuRow>& a, const std::vector<TrayMenuRow>& b) {
        if (a.size() != b.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i].separator != b[i].separator || a[i].checkable != b[i].checkable) {
                return false;
            }
        }
        return true;
    }

    // Rows that changed in place, for hosts that keep their menu open: the changed rows'
    // properties and the names of those they no longer have.
    void announceProperties(const std::vector<TrayMenuRow>& before) {
        sd_bus_message* m = nullptr;
        int r =
            sd_bus_message_new_signal(bus, &m, kMenuPath, kMenuInterface, "ItemsPropertiesUpdated");
        r = r >= 0 ? sd_bus_message_open_container(m, 'a', "(ia{sv})") : r;
        for (std::size_t i = 0; i < rows.size() && r >= 0; ++i) {
            if (rows[i] == before[i]) {
                continue;
            }
            const int id = static_cast<int>(i) + 1;
            r = sd_bus_message_open_container(m, 'r', "ia{sv}");
            r = r >= 0 ? sd_bus_message_append(m, "i", id) : r;
            r = r >= 0 ? appendProperties(m, id) : r;
            r = r >= 0 ? sd_bus_message_close_container(m) : r;
        }
        r = r >= 0 ? sd_bus_message_close_container(m) : r;
        r = r >= 0 ? sd_bus_message_open_container(m, 'a', "(ias)") : r;
        for (std::size_t i = 0; i < rows.size() && r >= 0; ++i) {
            const auto now = propertyNames(rows[i]);
            std::vector<std::string> gone;
            for (auto& property : propertyNames(before[i])) {
                if (std::find(now.begin(), now.end(), property) == now.end()) {
                    gone.push_back(std::move(property));
                }
            }
            if (gone.empty()) {
                continue;
            }
            r = sd_bus_message_open_container(m, 'r', "ias");
            r = r >= 0 ? sd_bus_message_append(m, "i", static_cast<int>(i) + 1) : r;
            r = r >= 0 ? sd_bus_message_open_container(m, 'a', "s") : r;
            for (const auto& property : gone) {
                r = r >= 0 ? sd_bus_message_append(m, "s", property.c_str()) : r;
            }
            r = r >= 0 ? sd_bus_message_close_container(m) : r;
            r = r >= 0 ? sd_bus_message_close_container(m) : r;
        }
        r = r >= 0 ? sd_bus_message_close_container(m) : r;
        r = r >= 0 ? sd_bus_send(bus, m, nullptr) : r;
        sd_bus_message_unref(m);
        if (r < 0) {
            logger().notice("cannot announce the tray menu's rows: %{public}s",
                            std::string(std::strerror(-r)));
        }
    }

    bool known(int id) const { return id >= 0 && static_cast<std::size_t>(id) <= rows.size(); }

    int appendLayout(sd_bus_message* m, int id, bool children) {
        int r = sd_bus_message_open_container(m, 'r', "ia{sv}av");
        r = r >= 0 ? sd_bus_message_append(m, "i", id) : r;
        r = r >= 0 ? appendProperties(m, id) : r;
        r = r >= 0 ? sd_bus_message_open_container(m, 'a', "v") : r;
        for (int child = 1; children && r >= 0 && known(child); ++child) {
            r = sd_bus_message_open_container(m, 'v', "(ia{sv}av)");
            r = r >= 0 ? appendLayout(m, child, false) : r;
            r = r >= 0 ? sd_bus_message_close_container(m) : r;
        }
        r = r >= 0 ? sd_bus_message_close_container(m) : r;
        return r >= 0 ? sd_bus_message_close_container(m) : r;
    }

    static int getLayout(sd_bus_message* m, void* data, sd_bus_error* error) {
        auto* self = static_cast<Impl*>(data);
        int parent = 0;
        int depth = 0;
        if (sd_bus_message_read(m, "ii", &parent, &depth) < 0 || !self->known(parent)) {
            return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "no such menu item");
        }
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(m, &reply);
        r = r >= 0 ? sd_bus_message_append(reply, "u", self->revision) : r;
        r = r >= 0 ? self->appendLayout(reply, parent, parent == 0 && depth != 0) : r;
        r = r >= 0 ? sd_bus_send(nullptr, reply, nullptr) : r;
        sd_bus_message_unref(reply);
        return r;
    }

    static int getGroupProperties(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        const void* ids = nullptr;
        std::size_t size = 0;
        int r = sd_bus_message_read_array(m, 'i', &ids, &size);
        sd_bus_message* reply = nullptr;
        r = r >= 0 ? sd_bus_message_new_method_return(m, &reply) : r;
        r = r >= 0 ? sd_bus_message_open_container(reply, 'a', "(ia{sv})") : r;
        for (std::size_t i = 0; r >= 0 && i < size / sizeof(std::int32_t); ++i) {
            std::int32_t id = 0;
            std::memcpy(&id, static_cast<const char*>(ids) + i * sizeof id, sizeof id);
            if (!self->known(id)) {
                continue;
            }
            r = sd_bus_message_open_container(reply, 'r', "ia{sv}");
            r = r >= 0 ? sd_bus_message_append(reply, "i", id) : r;
            r = r >= 0 ? self->appendProperties(reply, id) : r;
            r = r >= 0 ? sd_bus_message_close_container(reply) : r;
        }
        r = r >= 0 ? sd_bus_message_close_container(reply) : r;
        r = r >= 0 ? sd_bus_send(nullptr, reply, nullptr) : r;
        sd_bus_message_unref(reply);
        return r;
    }

    static int getProperty(sd_bus_message* m, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(m, "v", "s", "");
    }

    void clicked(int id, const char* event) {
        if (std::strcmp(event, "clicked") != 0 || id <= 0 || !known(id)) {
            return;
        }
        const auto row = static_cast<std::size_t>(id - 1);
        later([this, row] {
            if (handlers.chosen) {
                handlers.chosen(row);
            }
        });
    }

    static int event(sd_bus_message* m, void* data, sd_bus_error*) {
        int id = 0;
        const char* name = nullptr;
        if (sd_bus_message_read(m, "is", &id, &name) > 0) {
            static_cast<Impl*>(data)->clicked(id, name);
        }
        return sd_bus_reply_method_return(m, "");
    }

    static int eventGroup(sd_bus_message* m, void* data, sd_bus_error*) {
        if (sd_bus_message_enter_container(m, 'a', "(isvu)") > 0) {
            while (sd_bus_message_enter_container(m, 'r', "isvu") > 0) {
                int id = 0;
                const char* name = nullptr;
                if (sd_bus_message_read(m, "is", &id, &name) > 0) {
                    static_cast<Impl*>(data)->clicked(id, name);
                }
                sd_bus_message_skip(m, "vu");
                sd_bus_message_exit_container(m);
            }
        }
        return sd_bus_reply_method_return(m, "ai", 0);
    }

    // Rows changed here are announced as any other change of the rows is.
    void opening() {
        if (handlers.menuOpening) {
            handlers.menuOpening();
        }
    }

    static int aboutToShow(sd_bus_message* m, void* data, sd_bus_error*) {
        static_cast<Impl*>(data)->opening();
        return sd_bus_reply_method_return(m, "b", 0);
    }

    static int aboutToShowGroup(sd_bus_message* m, void* data, sd_bus_error*) {
        static_cast<Impl*>(data)->opening();
        return sd_bus_reply_method_return(m, "aiai", 0, 0);
    }

    static const sd_bus_vtable itemVTable[];
    static const sd_bus_vtable menuVTable[];
};

const sd_bus_vtable StatusNotifierItem::Impl::itemVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("Id", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("Title", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("Status", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("WindowId", "i", itemProperty, 0, 0),
    SD_BUS_PROPERTY("IconThemePath", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("Menu", "o", itemProperty, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", itemProperty, 0, 0),
    SD_BUS_PROPERTY("IconName", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", itemProperty, 0, 0),
    SD_BUS_PROPERTY("IconAccessibleDesc", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("OverlayIconName", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", itemProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionIconName", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", itemProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionAccessibleDesc", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionMovieName", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", itemProperty, 0, 0),
    SD_BUS_PROPERTY("XAyatanaLabel", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("XAyatanaLabelGuide", "s", itemProperty, 0, 0),
    SD_BUS_PROPERTY("XAyatanaOrderingIndex", "u", itemProperty, 0, 0),
    SD_BUS_METHOD("Activate", "ii", "", StatusNotifierItem::Impl::onActivate,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ContextMenu", "ii", "", StatusNotifierItem::Impl::ignore,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", StatusNotifierItem::Impl::ignore,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("XAyatanaSecondaryActivate", "u", "", StatusNotifierItem::Impl::ignore,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Scroll", "is", "", StatusNotifierItem::Impl::ignore, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ProvideXdgActivationToken", "s", "", StatusNotifierItem::Impl::ignore,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
    SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_SIGNAL("NewIconThemePath", "s", 0),
    SD_BUS_SIGNAL("NewMenu", "", 0),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable StatusNotifierItem::Impl::menuVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", menuProperty, 0, 0),
    SD_BUS_PROPERTY("TextDirection", "s", menuProperty, 0, 0),
    SD_BUS_PROPERTY("Status", "s", menuProperty, 0, 0),
    SD_BUS_PROPERTY("IconThemePath", "as", menuProperty, 0, 0),
    SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", StatusNotifierItem::Impl::getLayout,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})",
                  StatusNotifierItem::Impl::getGroupProperties, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetProperty", "is", "v", StatusNotifierItem::Impl::getProperty,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Event", "isvu", "", StatusNotifierItem::Impl::event, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", StatusNotifierItem::Impl::eventGroup,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShow", "i", "b", StatusNotifierItem::Impl::aboutToShow,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", StatusNotifierItem::Impl::aboutToShowGroup,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
    SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
    SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
    SD_BUS_VTABLE_END,
};

std::expected<std::unique_ptr<StatusNotifierItem>, std::string> StatusNotifierItem::open(
    Runtime& runtime, const std::string& title, Handlers handlers) {
    auto connection = dbus::Connection::open();
    if (!connection) {
        return std::unexpected(connection.error());
    }
    auto impl = std::make_unique<Impl>(runtime, std::move(*connection));
    Impl* state = impl.get();
    sd_bus* bus = state->bus;
    impl->title = title;
    impl->handlers = std::move(handlers);
    impl->name = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-1";
    int r = sd_bus_add_object_vtable(bus, impl->itemSlot.out(), kItemPath, kItemInterface,
                                     Impl::itemVTable, state);
    if (r >= 0) {
        r = sd_bus_add_object_vtable(bus, impl->menuSlot.out(), kMenuPath, kMenuInterface,
                                     Impl::menuVTable, state);
    }
    if (r >= 0) {
        r = impl->shell.start(impl->connection);
    }
    if (r >= 0) {
        r = impl->watcher.start(impl->connection);
    }
    if (r >= 0) {
        r = sd_bus_request_name(bus, impl->name.c_str(), 0);
    }
    if (r < 0) {
        return std::unexpected("cannot offer the tray item: " + std::string(std::strerror(-r)));
    }
    impl->loop.emplace(runtime, impl->connection);
    impl->registerWithWatcher();
    impl->loop->dispatchLater();
    return std::unique_ptr<StatusNotifierItem>(new StatusNotifierItem(std::move(impl)));
}

StatusNotifierItem::StatusNotifierItem(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

StatusNotifierItem::~StatusNotifierItem() = default;

const std::string& StatusNotifierItem::busName() const {
    return impl_->name;
}

void StatusNotifierItem::setIcon(std::vector<TrayIconPixmap> pixmaps,
                                 const std::string& description, const ThemeIcon& themeIcon) {
    if (pixmaps == impl_->pixmaps && description == impl_->description &&
        themeIcon.name == impl_->themeIconName && themeIcon.path == impl_->themePath) {
        return;
    }
    impl_->pixmaps = std::move(pixmaps);
    impl_->description = description;
    impl_->themeIconName = themeIcon.name;
    impl_->themePath = themeIcon.path;
    impl_->themed = impl_->usesThemeIcon();
    impl_->announceIcon();
    sd_bus_emit_signal(impl_->bus, kItemPath, kItemInterface, "NewToolTip", "");
}

void StatusNotifierItem::setMenu(std::vector<TrayMenuRow> rows) {
    if (rows == impl_->rows) {
        return;
    }
    auto before = std::exchange(impl_->rows, std::move(rows));
    if (Impl::sameShape(before, impl_->rows)) {
        impl_->announceProperties(before);
        return;
    }
    ++impl_->revision;
    sd_bus_emit_signal(impl_->bus, kMenuPath, kMenuInterface, "LayoutUpdated", "ui",
                       impl_->revision, 0);
}

}  // namespace tesvano::platform
