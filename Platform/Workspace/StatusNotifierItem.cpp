#include "Platform/Workspace/StatusNotifierItem.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "Platform/DBus/SessionBus.h"
#include "Platform/Log/Log.h"
#include "Platform/Workspace/TrayItemMessages.h"

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

// How long a watcher may take to answer, how soon after it took the item its list must name
// it, and the waits before connecting or registering again.
constexpr Seconds kWatcherPatience{10};
constexpr Seconds kListingDelay{3};
constexpr Seconds kFirstBackoff{1};
constexpr Seconds kLastBackoff{60};

// The menu has a few rows: a call naming more ids than this is no host's.
constexpr std::size_t kMaxIds = 4096;

}  // namespace

struct StatusNotifierItem::Impl {
    Runtime& runtime;
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

    // One connection to the session bus and everything the item offers on it. A new one,
    // with a new unique name, replaces it after the bus dropped it or a watcher would not show
    // the item: hosts key their proxies by the unique name, and a host that kept a broken
    // proxy for the old one lets go of it once that name leaves the bus.
    struct Link {
        Link(Impl& item, dbus::Connection c)
            : connection(std::move(c)),
              shell("org.gnome.Shell", [&item](const std::string&) { item.hostChanged(); }),
              watcher(kWatcher, [&item](const std::string& owner) { item.watcherChanged(owner); }) {
        }
        dbus::Connection connection;
        dbus::Slot itemSlot;
        dbus::Slot menuSlot;
        dbus::NameWatcher shell;
        // A watcher that starts (or starts again) after us learns of the item from us.
        dbus::NameWatcher watcher;
        std::optional<dbus::BusLoop> loop;
        dbus::Slot pending;
        // The end of the watcher's time to answer, or the look at its list after it did.
        Registration due;
    };
    std::unique_ptr<Link> link;
    unsigned links = 0;
    Registration relinking;
    Seconds backoff = kFirstBackoff;
    Visibility visibility = Visibility::pending;
    dbus::Lifetime lifetime;

    explicit Impl(Runtime& rt) : runtime(rt) {}

    sd_bus* bus() const { return link ? link->connection.get() : nullptr; }

    // The symbolic icon by name goes to every host: those that recolour symbolic icons draw
    // it in their panel's foreground (GNOME's AppIndicator host would draw pixmaps as they
    // come), the others as the file has it, in the same ink as the pixmaps.
    bool usesThemeIcon() const {
        return link && !themeIconName.empty() && !link->watcher.owner().empty();
    }

    void hostChanged() {
        if (usesThemeIcon() == themed) {
            return;
        }
        themed = !themed;
        announceIcon();
    }

    void watcherChanged(const std::string& owner) {
        hostChanged();
        if (link) {
            link->pending.reset();
            link->due.cancel();
        }
        // Without a watcher nobody shows the item, but nobody refused it either: the next
        // watcher is asked afresh.
        setVisibility(Visibility::pending);
        if (!owner.empty()) {
            backoff = kFirstBackoff;
            registerWithWatcher();
        }
    }

    void announceIcon() {
        sd_bus_emit_signal(bus(), kItemPath, kItemInterface, "NewIconThemePath", "s",
                           themed ? themePath.c_str() : "");
        sd_bus_emit_signal(bus(), kItemPath, kItemInterface, "NewIcon", "");
    }

    // Handlers run from the loop: they may open windows, and the bus is busy with this call.
    void later(std::function<void()> action) { lifetime.later(runtime, std::move(action)); }

    void setVisibility(Visibility now) {
        if (visibility == now) {
            return;
        }
        visibility = now;
        later([this, now] {
            if (handlers.visibilityChanged && visibility == now) {
                handlers.visibilityChanged(now);
            }
        });
    }

    // A new connection with the item on it, registered with the watcher; false when there is
    // no session bus or the item cannot be offered on it.
    std::expected<void, std::string> connect() {
        auto connection = dbus::Connection::open();
        if (!connection) {
            return std::unexpected(connection.error());
        }
        auto made = std::make_unique<Link>(*this, std::move(*connection));
        sd_bus* b = made->connection.get();
        name = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
               std::to_string(++links);
        int r = sd_bus_add_object_vtable(b, made->itemSlot.out(), kItemPath, kItemInterface,
                                         itemVTable, this);
        r = r >= 0 ? sd_bus_add_object_vtable(b, made->menuSlot.out(), kMenuPath, kMenuInterface,
                                              menuVTable, this)
                   : r;
        // Before the watchers start: their first answers may already register.
        link = std::move(made);
        r = r >= 0 ? link->shell.start(link->connection) : r;
        r = r >= 0 ? link->watcher.start(link->connection) : r;
        r = r >= 0 ? sd_bus_request_name(b, name.c_str(), 0) : r;
        if (r < 0) {
            link.reset();
            return std::unexpected("cannot offer the tray item: " + std::string(std::strerror(-r)));
        }
        link->loop.emplace(runtime, link->connection, [this](int result) {
            if (result < 0) {
                // The bus dropped us: everything offered on it is gone with the connection.
                logger().notice("the tray item lost the session bus; connecting again");
                setVisibility(Visibility::pending);
                relinkLater();
            }
        });
        themed = usesThemeIcon();
        registerWithWatcher();
        link->loop->dispatchLater();
        return {};
    }

    // The connection is dropped only from the loop, never inside its own dispatch.
    void relinkLater() {
        if (relinking.active()) {
            return;
        }
        const Seconds wait = backoff;
        backoff = std::min(backoff * 2, kLastBackoff);
        relinking = runtime.after(wait, [this] {
            link.reset();
            if (auto made = connect(); !made) {
                logger().notice("%{public}s; trying again", made.error());
                relinkLater();
            }
        });
    }

    // A watcher that refused the item, did not answer or does not list it: nothing shows it.
    void notShown(const std::string& why) {
        logger().notice(
            "the tray's watcher does not show the item (%{public}s); registering "
            "again under a new name",
            why);
        if (link) {
            link->pending.reset();
            link->due.cancel();
        }
        setVisibility(Visibility::unseen);
        relinkLater();
    }

    void registerWithWatcher() {
        if (!link || link->watcher.owner().empty()) {
            return;
        }
        link->pending.reset();
        link->due.cancel();
        dbus::Reply request;
        int r =
            sd_bus_message_new_method_call(bus(), request.out(), kWatcher, "/StatusNotifierWatcher",
                                           kWatcher, "RegisterStatusNotifierItem");
        r = r >= 0 ? sd_bus_message_append(request.get(), "s", name.c_str()) : r;
        // Our own clock says when the watcher took too long: sd-bus only notices on a wake-up.
        r = r >= 0
                ? sd_bus_call_async(bus(), link->pending.out(), request.get(), onRegistered, this,
                                    static_cast<std::uint64_t>(kWatcherPatience.count() * 2e6))
                : r;
        if (r < 0) {
            notShown(std::strerror(-r));
            return;
        }
        link->due = runtime.after(kWatcherPatience, [this] { notShown("no answer"); });
    }

    static int onRegistered(sd_bus_message* reply, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        self->link->pending.reset();
        self->link->due.cancel();
        if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
            self->notShown(error->message ? error->message : "refused");
            return 0;
        }
        // Some watchers take the item and never show it (a host that failed to reach it).
        self->link->due = self->runtime.after(kListingDelay, [self] { self->askListing(); });
        return 0;
    }

    void askListing() {
        dbus::Reply request;
        int r =
            sd_bus_message_new_method_call(bus(), request.out(), kWatcher, "/StatusNotifierWatcher",
                                           "org.freedesktop.DBus.Properties", "Get");
        r = r >= 0 ? sd_bus_message_append(request.get(), "ss", kWatcher,
                                           "RegisteredStatusNotifierItems")
                   : r;
        r = r >= 0 ? sd_bus_call_async(bus(), link->pending.out(), request.get(), onListing, this,
                                       static_cast<std::uint64_t>(kWatcherPatience.count() * 2e6))
                   : r;
        if (r < 0) {
            notShown(std::strerror(-r));
            return;
        }
        link->due = runtime.after(kWatcherPatience, [this] { notShown("no list of items"); });
    }

    // Watchers list an item as its bus name (well-known or unique), alone or followed by its
    // object's path.
    bool listed(const char* entry) const {
        const char* unique = nullptr;
        sd_bus_get_unique_name(bus(), &unique);
        const std::string_view text(entry);
        const std::string_view service = text.substr(0, text.find('/'));
        return service == name || (unique != nullptr && service == unique);
    }

    static int onListing(sd_bus_message* reply, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        self->link->pending.reset();
        self->link->due.cancel();
        // A watcher that cannot tell is taken at its word that it took the item.
        bool shown = sd_bus_message_is_method_error(reply, nullptr) ||
                     sd_bus_message_enter_container(reply, 'v', "as") <= 0;
        if (!shown && sd_bus_message_enter_container(reply, 'a', "s") > 0) {
            const char* entry = nullptr;
            while (!shown && sd_bus_message_read(reply, "s", &entry) > 0) {
                shown = self->listed(entry);
            }
        }
        if (!shown) {
            self->notShown("not listed");
            return 0;
        }
        self->backoff = kFirstBackoff;
        self->setVisibility(Visibility::shown);
        return 0;
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
        return appendRowProperties(m, id == 0 ? nullptr : &rows[static_cast<std::size_t>(id - 1)]);
    }

    // Rows that changed in place, for hosts that keep their menu open: the changed rows'
    // properties and the names of those they no longer have.
    void announceProperties(const std::vector<TrayMenuRow>& before) {
        sd_bus_message* m = nullptr;
        int r = sd_bus_message_new_signal(bus(), &m, kMenuPath, kMenuInterface,
                                          "ItemsPropertiesUpdated");
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
            const auto now = rowPropertyNames(rows[i]);
            std::vector<std::string> gone;
            for (auto& property : rowPropertyNames(before[i])) {
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
        r = r >= 0 ? sd_bus_send(bus(), m, nullptr) : r;
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

    // The ids of an id array the call brings, each once, in order; an error for more than a
    // menu could have, so one call never costs more than a menu's worth of work.
    std::expected<std::vector<std::int32_t>, int> idsOf(sd_bus_message* m, sd_bus_error* error) {
        const void* ids = nullptr;
        std::size_t size = 0;
        if (const int r = sd_bus_message_read_array(m, 'i', &ids, &size); r < 0) {
            return std::unexpected(r);
        }
        const std::size_t count = size / sizeof(std::int32_t);
        if (count > kMaxIds) {
            return std::unexpected(sd_bus_error_setf(error, SD_BUS_ERROR_LIMITS_EXCEEDED,
                                                     "at most %zu menu item ids in one call",
                                                     kMaxIds));
        }
        std::vector<bool> seen(rows.size() + 1);
        std::vector<std::int32_t> out;
        for (std::size_t i = 0; i < count; ++i) {
            std::int32_t id = 0;
            std::memcpy(&id, static_cast<const char*>(ids) + i * sizeof id, sizeof id);
            if (known(id) && !seen[static_cast<std::size_t>(id)]) {
                seen[static_cast<std::size_t>(id)] = true;
                out.push_back(id);
            }
        }
        return out;
    }

    static int getGroupProperties(sd_bus_message* m, void* data, sd_bus_error* error) {
        auto* self = static_cast<Impl*>(data);
        const auto ids = self->idsOf(m, error);
        if (!ids) {
            return ids.error();
        }
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(m, &reply);
        r = r >= 0 ? sd_bus_message_open_container(reply, 'a', "(ia{sv})") : r;
        for (const std::int32_t id : *ids) {
            r = r >= 0 ? sd_bus_message_open_container(reply, 'r', "ia{sv}") : r;
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

    static int eventGroup(sd_bus_message* m, void* data, sd_bus_error* error) {
        auto* self = static_cast<Impl*>(data);
        // Read whole before any acts: a call over the limit does nothing.
        std::vector<int> clicked;
        std::size_t count = 0;
        int r = sd_bus_message_enter_container(m, 'a', "(isvu)");
        while (r > 0 && (r = sd_bus_message_enter_container(m, 'r', "isvu")) > 0) {
            if (++count > kMaxIds) {
                return sd_bus_error_setf(error, SD_BUS_ERROR_LIMITS_EXCEEDED,
                                         "at most %zu menu events in one call", kMaxIds);
            }
            int id = 0;
            const char* name = nullptr;
            r = sd_bus_message_read(m, "is", &id, &name);
            if (r > 0 && std::strcmp(name, "clicked") == 0 &&
                std::find(clicked.begin(), clicked.end(), id) == clicked.end()) {
                clicked.push_back(id);
            }
            r = r >= 0 ? sd_bus_message_skip(m, "vu") : r;
            r = r >= 0 ? sd_bus_message_exit_container(m) : r;
        }
        if (r < 0) {
            return r;
        }
        for (const int id : clicked) {
            self->clicked(id, "clicked");
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

    static int aboutToShowGroup(sd_bus_message* m, void* data, sd_bus_error* error) {
        auto* self = static_cast<Impl*>(data);
        if (const auto ids = self->idsOf(m, error); !ids) {
            return ids.error();
        }
        self->opening();
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
    auto impl = std::make_unique<Impl>(runtime);
    impl->title = title;
    impl->handlers = std::move(handlers);
    if (auto connected = impl->connect(); !connected) {
        return std::unexpected(connected.error());
    }
    return std::unique_ptr<StatusNotifierItem>(new StatusNotifierItem(std::move(impl)));
}

StatusNotifierItem::StatusNotifierItem(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

StatusNotifierItem::~StatusNotifierItem() = default;

const std::string& StatusNotifierItem::busName() const {
    return impl_->name;
}

StatusNotifierItem::Visibility StatusNotifierItem::visibility() const {
    return impl_->visibility;
}

bool StatusNotifierItem::hostIsGnomeShell() const {
    const auto& link = impl_->link;
    return link && !link->watcher.owner().empty() && link->watcher.owner() == link->shell.owner();
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
    sd_bus_emit_signal(impl_->bus(), kItemPath, kItemInterface, "NewToolTip", "");
}

void StatusNotifierItem::setMenu(std::vector<TrayMenuRow> rows) {
    if (rows == impl_->rows) {
        return;
    }
    auto before = std::exchange(impl_->rows, std::move(rows));
    if (sameShape(before, impl_->rows)) {
        impl_->announceProperties(before);
        return;
    }
    ++impl_->revision;
    sd_bus_emit_signal(impl_->bus(), kMenuPath, kMenuInterface, "LayoutUpdated", "ui",
                       impl_->revision, 0);
}

}  // namespace tesvano::platform
