// The tray menu as a StatusNotifier host reads it: on a session bus of the test's own, a stand-in
// watcher takes the item's registration (or refuses it, keeps silent, or never lists the item)
// and then asks the item's dbusmenu what KDE's, Xfce's and GNOME's hosts ask (GetLayout,
// GetGroupProperties) and follows its signals.
#include <QAction>
#include <QImage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "Platform/DBus/SessionBus.h"
#include "Platform/Workspace/TrayHosts.h"
#include "Tesvano/App/ShortcutNames.h"
#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Menu/TrayIcon.h"
#include "Tesvano/Menu/TrayMenuRows.h"
#include "tests/gui/AppFixture.h"
#include "tests/support/FakeXEmbedTray.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace tesvano {
namespace {

namespace dbus = platform::dbus;
using KeyboardShortcuts::Key;
using KeyboardShortcuts::Modifiers;
using KeyboardShortcuts::Shortcut;
using platform::Seconds;
using Visibility = platform::StatusNotifierItem::Visibility;

constexpr const char* kMenuInterface = "com.canonical.dbusmenu";

// One menu row as the host has it: its id and its properties written out ("true", "3",
// "Control+Alt+l" for a shortcut, the decoded image for icon data).
struct HostRow {
    int id = 0;
    std::map<std::string, std::string> properties;
    QImage icon;
    bool has(const std::string& name) const { return properties.contains(name); }
    std::string operator[](const std::string& name) const {
        const auto it = properties.find(name);
        return it == properties.end() ? std::string("(none)") : it->second;
    }
};

// Whether every pixel the image covers (at least half opaque) is `ink`, and some are.
bool drawnIn(const QImage& image, const QColor& ink) {
    int covered = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 128) {
                continue;
            }
            ++covered;
            if (std::abs(pixel.red() - ink.red()) > 2 ||
                std::abs(pixel.green() - ink.green()) > 2 ||
                std::abs(pixel.blue() - ink.blue()) > 2) {
                return false;
            }
        }
    }
    return covered > 0;
}

int readProperties(sd_bus_message* m, HostRow& row) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    while (r > 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* name = nullptr;
        const char* contents = nullptr;
        r = sd_bus_message_read(m, "s", &name);
        r = r >= 0 ? sd_bus_message_peek_type(m, nullptr, &contents) : r;
        const std::string key = name != nullptr ? name : "";
        const std::string type = contents != nullptr ? contents : "";
        r = r >= 0 ? sd_bus_message_enter_container(m, 'v', type.c_str()) : r;
        std::string value = "(" + type + ")";
        if (r >= 0 && type == "s") {
            const char* text = nullptr;
            r = sd_bus_message_read(m, "s", &text);
            value = text;
        } else if (r >= 0 && (type == "b" || type == "i")) {
            int number = 0;
            r = sd_bus_message_read_basic(m, type[0], &number);
            value = type == "b" ? (number != 0 ? "true" : "false") : std::to_string(number);
        } else if (r >= 0 && type == "ay") {
            const void* bytes = nullptr;
            std::size_t size = 0;
            r = sd_bus_message_read_array(m, 'y', &bytes, &size);
            row.icon = QImage::fromData(static_cast<const uchar*>(bytes), int(size), "PNG");
            value = row.icon.isNull() ? "not a PNG"
                                      : std::to_string(row.icon.width()) + "x" +
                                            std::to_string(row.icon.height());
        } else if (r >= 0 && type == "aas") {
            std::vector<std::string> presses;
            r = sd_bus_message_enter_container(m, 'a', "as");
            while (r > 0 && (r = sd_bus_message_enter_container(m, 'a', "s")) > 0) {
                std::string press;
                const char* part = nullptr;
                while ((r = sd_bus_message_read(m, "s", &part)) > 0) {
                    press += (press.empty() ? "" : "+") + std::string(part);
                }
                presses.push_back(press);
                r = r >= 0 ? sd_bus_message_exit_container(m) : r;
            }
            r = r >= 0 ? sd_bus_message_exit_container(m) : r;
            value.clear();
            for (const auto& press : presses) {
                value += (value.empty() ? "" : ", ") + press;
            }
        } else if (r >= 0) {
            r = sd_bus_message_skip(m, type.c_str());
        }
        row.properties[key] = value;
        r = r >= 0 ? sd_bus_message_exit_container(m) : r;
        r = r >= 0 ? sd_bus_message_exit_container(m) : r;
    }
    return r >= 0 ? sd_bus_message_exit_container(m) : r;
}

class TrayMenuExportTest : public test::AppFixture {
protected:
    // The bus daemon's configuration; empty for the session bus's own.
    virtual std::string busConfig() const { return {}; }

    void SetUp() override {
        std::string config;
        if (const std::string text = busConfig(); !text.empty()) {
            config = (configDir_ / "bus.conf").string();
            test::writeFile(config, text);
        }
        auto bus = test::SessionBus::start({}, config);
        if (!bus) {
            GTEST_SKIP() << bus.error();
        }
        bus_ = std::move(*bus);
        if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
            savedAddress_ = address;
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
        auto host = dbus::Connection::open(bus_->address());
        ASSERT_TRUE(host.has_value()) << host.error();
        host_.emplace(std::move(*host));
        sd_bus* h = host_->get();
        ASSERT_GE(sd_bus_add_object_vtable(h, watcherSlot_.out(), "/StatusNotifierWatcher",
                                           "org.kde.StatusNotifierWatcher", kWatcherVTable, this),
                  0);
        ASSERT_GE(sd_bus_match_signal(h, signalSlot_.out(), nullptr, "/MenuBar", kMenuInterface,
                                      nullptr, onMenuSignal, this),
                  0);
        ASSERT_GE(sd_bus_request_name(h, "org.kde.StatusNotifierWatcher", 0), 0);
        hostLoop_.emplace(loop, *host_);
    }
    void TearDown() override {
        tray_.reset();
        menu_.reset();
        for (auto& held : held_) {
            sd_bus_message_unref(held);
        }
        hostLoop_.reset();
        if (savedAddress_) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress_->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }

    void pump() {
        loop.pumpFds(std::chrono::milliseconds(5));
        loop.runDue();
        QCoreApplication::processEvents();
    }
    bool waitFor(const std::function<bool()>& done) {
        return test::waitUntil([this] { pump(); }, done);
    }

    // Calls a method of the item's menu as a host does (without blocking the item, which
    // answers from this thread) and answers the reply, or null on an error.
    dbus::Reply callMenu(const char* method, const std::function<int(sd_bus_message*)>& append,
                         std::string* errorName = nullptr) {
        return callItem("/MenuBar", kMenuInterface, method, append, errorName);
    }
    dbus::Reply callItem(const char* path, const char* interface, const char* method,
                         const std::function<int(sd_bus_message*)>& append,
                         std::string* errorName = nullptr) {
        dbus::Reply request;
        sd_bus_message_new_method_call(host_->get(), request.out(), item_.c_str(), path, interface,
                                       method);
        EXPECT_GE(append(request.get()), 0);
        struct Answer {
            dbus::Reply reply;
            std::string error;
            bool done = false;
        } answer;
        dbus::Slot pending;
        sd_bus_call_async(
            host_->get(), pending.out(), request.get(),
            [](sd_bus_message* reply, void* data, sd_bus_error*) {
                auto* a = static_cast<Answer*>(data);
                if (const sd_bus_error* e = sd_bus_message_get_error(reply)) {
                    a->error = e->name;
                } else {
                    *a->reply.out() = sd_bus_message_ref(reply);
                }
                a->done = true;
                return 0;
            },
            &answer, 0);
        EXPECT_TRUE(waitFor([&] { return answer.done; })) << method;
        if (errorName != nullptr) {
            *errorName = answer.error;
        }
        return std::move(answer.reply);
    }

    // A property of the item as its host reads it, the reply entered into the variant.
    dbus::Reply itemProperty(const char* name, const char* type) {
        auto reply =
            callItem("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                     [name](sd_bus_message* m) {
                         return sd_bus_message_append(m, "ss", "org.kde.StatusNotifierItem", name);
                     });
        if (reply.get() == nullptr || sd_bus_message_enter_container(reply.get(), 'v', type) <= 0) {
            ADD_FAILURE() << "no " << name;
            return {};
        }
        return reply;
    }
    std::string itemText(const char* name) {
        auto reply = itemProperty(name, "s");
        const char* text = nullptr;
        return reply.get() != nullptr && sd_bus_message_read(reply.get(), "s", &text) > 0
                   ? std::string(text)
                   : std::string("(none)");
    }
    // The item's pixmaps as images.
    std::vector<QImage> itemPixmaps() {
        std::vector<QImage> images;
        auto reply = itemProperty("IconPixmap", "a(iiay)");
        sd_bus_message* m = reply.get();
        if (m == nullptr || sd_bus_message_enter_container(m, 'a', "(iiay)") <= 0) {
            return images;
        }
        while (sd_bus_message_enter_container(m, 'r', "iiay") > 0) {
            int width = 0;
            int height = 0;
            const void* bytes = nullptr;
            std::size_t size = 0;
            sd_bus_message_read(m, "ii", &width, &height);
            sd_bus_message_read_array(m, 'y', &bytes, &size);
            sd_bus_message_exit_container(m);
            QImage image(width, height, QImage::Format_ARGB32);
            const auto* argb = static_cast<const std::uint8_t*>(bytes);
            for (int i = 0; i < width * height && std::size_t(i) * 4 + 3 < size; ++i) {
                image.setPixel(
                    i % width, i / width,
                    qRgba(argb[4 * i + 1], argb[4 * i + 2], argb[4 * i + 3], argb[4 * i]));
            }
            images.push_back(image);
        }
        return images;
    }

    std::vector<HostRow> layout() {
        auto reply = callMenu("GetLayout", [](sd_bus_message* m) {
            return sd_bus_message_append(m, "iias", 0, -1, 0);
        });
        std::vector<HostRow> rows;
        sd_bus_message* m = reply.get();
        if (m == nullptr) {
            ADD_FAILURE() << "GetLayout failed";
            return rows;
        }
        std::uint32_t revision = 0;
        HostRow root;
        int r = sd_bus_message_read(m, "u", &revision);
        r = r >= 0 ? sd_bus_message_enter_container(m, 'r', "ia{sv}av") : r;
        r = r >= 0 ? sd_bus_message_read(m, "i", &root.id) : r;
        r = r >= 0 ? readProperties(m, root) : r;
        r = r >= 0 ? sd_bus_message_enter_container(m, 'a', "v") : r;
        while (r > 0 && (r = sd_bus_message_enter_container(m, 'v', "(ia{sv}av)")) > 0) {
            HostRow row;
            r = sd_bus_message_enter_container(m, 'r', "ia{sv}av");
            r = r >= 0 ? sd_bus_message_read(m, "i", &row.id) : r;
            r = r >= 0 ? readProperties(m, row) : r;
            r = r >= 0 ? sd_bus_message_skip(m, "av") : r;
            r = r >= 0 ? sd_bus_message_exit_container(m) : r;
            r = r >= 0 ? sd_bus_message_exit_container(m) : r;
            rows.push_back(std::move(row));
        }
        EXPECT_GE(r, 0) << "a layout of dbusmenu's form";
        EXPECT_EQ(root["children-display"], "submenu");
        return rows;
    }

    std::optional<HostRow> groupProperties(int id) {
        auto reply = callMenu("GetGroupProperties", [id](sd_bus_message* m) {
            return sd_bus_message_append(m, "aias", 1, id, 0);
        });
        sd_bus_message* m = reply.get();
        HostRow row;
        if (m == nullptr || sd_bus_message_enter_container(m, 'a', "(ia{sv})") <= 0 ||
            sd_bus_message_enter_container(m, 'r', "ia{sv}") <= 0 ||
            sd_bus_message_read(m, "i", &row.id) < 0 || readProperties(m, row) < 0) {
            return std::nullopt;
        }
        return row;
    }

    static const HostRow& find(const std::vector<HostRow>& rows, const std::string& label) {
        static const HostRow none;
        const auto it = std::find_if(rows.begin(), rows.end(),
                                     [&](const HostRow& row) { return row["label"] == label; });
        EXPECT_NE(it, rows.end()) << "no row " << label;
        return it == rows.end() ? none : *it;
    }

    // Starts the program's tray on the bus; answers once the item has asked to register.
    bool startTray() {
        auto& s = makeState();
        s.start();
        menu_.emplace(s, [] {});
        tray_.emplace(s, *menu_);
        return waitFor([this] { return !registrations_.empty(); });
    }

    // Waits for a signal of the menu that names the row `id` (changed properties) or, with
    // `property`, that says the row lost it.
    bool waitForUpdate(int id, const std::string& property = {}) {
        return waitFor([&] {
            return std::any_of(updates_.begin(), updates_.end(), [&](const auto& update) {
                return update.first == id && (property.empty() || update.second == property);
            });
        });
    }

    sd_bus* host() const { return host_->get(); }

    // Moves virtual time on until `done`, a little at a time, the bus pumped between.
    bool advanceUntil(const std::function<bool()>& done) {
        return waitFor([&] {
            loop.advance(Seconds(0.25));
            return done();
        });
    }
    bool onBus(const std::string& name) { return host_->nameOwner(name.c_str()).has_value(); }

    // How the stand-in watcher answers the next registration; it takes and lists every later
    // one.
    enum class WatcherAnswer { take, refuse, silence, unlist };
    struct Registered {
        std::string service;
        std::string sender;
    };

    std::optional<StatusMenu> menu_;
    std::optional<TrayIcon> tray_;
    std::string item_;
    int layoutUpdates_ = 0;
    // (row id, "" for changed properties or the name of a removed one), as signalled.
    std::vector<std::pair<int, std::string>> updates_;
    WatcherAnswer nextAnswer_ = WatcherAnswer::take;
    std::vector<Registered> registrations_;
    // What the watcher lists, as GNOME's does: the sender's unique name and the object's path.
    std::vector<std::string> listed_;

private:
    static int onRegister(sd_bus_message* m, void* data, sd_bus_error* error) {
        auto* self = static_cast<TrayMenuExportTest*>(data);
        const char* service = nullptr;
        if (sd_bus_message_read(m, "s", &service) <= 0) {
            return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "no service");
        }
        const std::string sender = sd_bus_message_get_sender(m);
        self->registrations_.push_back({service, sender});
        const WatcherAnswer answer = std::exchange(self->nextAnswer_, WatcherAnswer::take);
        if (answer == WatcherAnswer::refuse) {
            return sd_bus_error_set(error, SD_BUS_ERROR_FAILED, "the host failed");
        }
        if (answer == WatcherAnswer::silence) {
            self->held_.push_back(sd_bus_message_ref(m));
            return 1;
        }
        self->item_ = service;
        if (answer == WatcherAnswer::take) {
            self->listed_.push_back(sender + "/StatusNotifierItem");
        }
        return sd_bus_reply_method_return(m, "");
    }
    static int onListed(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                        void* data, sd_bus_error*) {
        auto* self = static_cast<TrayMenuExportTest*>(data);
        int r = sd_bus_message_open_container(reply, 'a', "s");
        for (const auto& entry : self->listed_) {
            r = r >= 0 ? sd_bus_message_append(reply, "s", entry.c_str()) : r;
        }
        return r >= 0 ? sd_bus_message_close_container(reply) : r;
    }
    static int onMenuSignal(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<TrayMenuExportTest*>(data);
        if (sd_bus_message_is_signal(m, kMenuInterface, "LayoutUpdated")) {
            ++self->layoutUpdates_;
        }
        if (!sd_bus_message_is_signal(m, kMenuInterface, "ItemsPropertiesUpdated")) {
            return 0;
        }
        sd_bus_message_enter_container(m, 'a', "(ia{sv})");
        while (sd_bus_message_enter_container(m, 'r', "ia{sv}") > 0) {
            HostRow row;
            sd_bus_message_read(m, "i", &row.id);
            readProperties(m, row);
            sd_bus_message_exit_container(m);
            self->updates_.emplace_back(row.id, "");
        }
        sd_bus_message_exit_container(m);
        sd_bus_message_enter_container(m, 'a', "(ias)");
        while (sd_bus_message_enter_container(m, 'r', "ias") > 0) {
            int id = 0;
            sd_bus_message_read(m, "i", &id);
            sd_bus_message_enter_container(m, 'a', "s");
            const char* name = nullptr;
            while (sd_bus_message_read(m, "s", &name) > 0) {
                self->updates_.emplace_back(id, name);
            }
            sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
        }
        return 0;
    }
    static const sd_bus_vtable kWatcherVTable[];

    test::TempDir configDir_;
    std::unique_ptr<test::SessionBus> bus_;
    std::optional<std::string> savedAddress_;
    std::vector<sd_bus_message*> held_;
    std::optional<dbus::Connection> host_;
    dbus::Slot watcherSlot_;
    dbus::Slot signalSlot_;
    std::optional<dbus::BusLoop> hostLoop_;
};

const sd_bus_vtable TrayMenuExportTest::kWatcherVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", TrayMenuExportTest::onRegister, 0),
    SD_BUS_PROPERTY("RegisteredStatusNotifierItems", "as", TrayMenuExportTest::onListed, 0, 0),
    SD_BUS_VTABLE_END,
};

TEST_F(TrayMenuExportTest, TheHostReadsTheKeyHintsAndIconsOfTheQtMenu) {
    ASSERT_TRUE(startTray());
    const auto rows = layout();
    ASSERT_EQ(rows.size(), menu_->menu()->actions().size());

    const HostRow& status = find(rows, "Disabled");
    EXPECT_FALSE(status.has("shortcut")) << "no toggle shortcut set yet";
    const HostRow& quit = find(rows, "Quit");
    EXPECT_EQ(quit["shortcut"], "Control+q");
    // Each symbol is the one the Qt menu shows beside the same row.
    for (const char* role : {"status", "settings", "update", "about", "quit"}) {
        const QAction* action = menu_->item(QString::fromLatin1(role));
        const HostRow& row = find(rows, action->text().toStdString());
        EXPECT_EQ(row["icon-data"], "16x16") << role;
        EXPECT_EQ(row.icon.convertToFormat(QImage::Format_ARGB32),
                  action->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32))
            << role;
    }
    // Source rows carry the host's own check mark, not an icon.
    const HostRow& german = find(rows, "German");
    EXPECT_EQ(german["toggle-type"], "checkmark");
    EXPECT_EQ(german["toggle-state"], "0");
    EXPECT_FALSE(german.has("icon-data"));
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](const HostRow& row) { return row["type"] == "separator"; }),
              3);
}

TEST_F(TrayMenuExportTest, ARowThatChangesReachesTheHostInPlace) {
    ASSERT_TRUE(startTray());
    const int status = find(layout(), "Disabled").id;
    const int layouts = layoutUpdates_;

    // The toggle shortcut set in Settings: the host's status row shows it.
    KeyboardShortcuts::setShortcut(Shortcut(Key::l, Modifiers::control | Modifiers::alt),
                                   ShortcutNames::toggleLock());
    ASSERT_TRUE(waitForUpdate(status));
    EXPECT_EQ(find(layout(), "Disabled")["shortcut"], "Control+Alt+l");

    // Locking on from elsewhere: the same row, relabelled, keeps its hint.
    updates_.clear();
    state->lockToSource(InputSourceID("xkb:de"));
    ASSERT_TRUE(waitForUpdate(status));
    const auto row = groupProperties(status);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ((*row)["label"], "Enabled");
    EXPECT_EQ((*row)["shortcut"], "Control+Alt+l");
    EXPECT_EQ(find(layout(), "German")["toggle-state"], "1");
    EXPECT_EQ(layoutUpdates_, layouts) << "rows that change in place keep the layout";

    // A shortcut taken away is taken from the host's row too.
    KeyboardShortcuts::setShortcut(std::nullopt, ShortcutNames::toggleLock());
    ASSERT_TRUE(waitForUpdate(status, "shortcut"));
    EXPECT_FALSE(find(layout(), "Enabled").has("shortcut"));
}

// One call naming a million ids (4 MB) cost seconds of the interface thread and hundreds of
// megabytes: a call names at most a menu's worth, each row answered once.
TEST_F(TrayMenuExportTest, IdArraysAreBoundedAndRepeatedIdsAnsweredOnce) {
    ASSERT_TRUE(startTray());
    const std::vector<std::int32_t> huge(1'000'000, 1);
    std::string error;
    const auto appendIds = [](const std::vector<std::int32_t>& ids) {
        return [&ids](sd_bus_message* m) {
            const int r =
                sd_bus_message_append_array(m, 'i', ids.data(), ids.size() * sizeof(std::int32_t));
            return r >= 0 ? sd_bus_message_append(m, "as", 0) : r;
        };
    };
    EXPECT_EQ(callMenu("GetGroupProperties", appendIds(huge), &error).get(), nullptr);
    EXPECT_EQ(error, SD_BUS_ERROR_LIMITS_EXCEEDED);
    const std::vector<std::int32_t> over(4097, 1);
    EXPECT_EQ(callMenu(
                  "AboutToShowGroup",
                  [&](sd_bus_message* m) {
                      return sd_bus_message_append_array(m, 'i', over.data(),
                                                         over.size() * sizeof(std::int32_t));
                  },
                  &error)
                  .get(),
              nullptr);
    EXPECT_EQ(error, SD_BUS_ERROR_LIMITS_EXCEEDED);

    // At the limit, with repeats and unknown ids among them: each known row once, in order.
    std::vector<std::int32_t> repeated(4090, 2);
    repeated.insert(repeated.end(), {-7, 1, 100000, 2, 1, 0});
    auto reply = callMenu("GetGroupProperties", appendIds(repeated));
    ASSERT_NE(reply.get(), nullptr);
    std::vector<int> ids;
    sd_bus_message* m = reply.get();
    ASSERT_GT(sd_bus_message_enter_container(m, 'a', "(ia{sv})"), 0);
    while (sd_bus_message_enter_container(m, 'r', "ia{sv}") > 0) {
        int id = 0;
        sd_bus_message_read(m, "i", &id);
        sd_bus_message_skip(m, "a{sv}");
        sd_bus_message_exit_container(m);
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<int>{2, 1, 0}));

    // Clicks: a call over the limit does nothing at all, repeats of one row act once.
    const int settings = find(layout(), "Settings…").id;
    int opened = 0;
    QObject::connect(menu_->item(QStringLiteral("settings")), &QAction::triggered,
                     [&opened] { ++opened; });
    const auto clicks = [&](std::size_t count) {
        return callMenu(
            "EventGroup",
            [&](sd_bus_message* mm) {
                int r = sd_bus_message_open_container(mm, 'a', "(isvu)");
                for (std::size_t i = 0; i < count && r >= 0; ++i) {
                    r = sd_bus_message_append(mm, "(isvu)", settings, "clicked", "i", 0, 0U);
                }
                return r >= 0 ? sd_bus_message_close_container(mm) : r;
            },
            &error);
    };
    EXPECT_EQ(clicks(4097).get(), nullptr);
    EXPECT_EQ(error, SD_BUS_ERROR_LIMITS_EXCEEDED);
    EXPECT_NE(clicks(3).get(), nullptr);
    for (int i = 0; i < 5; ++i) {
        pump();
    }
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(layout().size(), menu_->menu()->actions().size()) << "still answering";
}

// Xfce's dark panel (#353535) and Cinnamon's (#555555) showed the padlock and the menu's row
// icons black: the item follows what the tray asks its icons to draw in, and GNOME Shell's
// dark panel, not the application's palette.
TEST_F(TrayMenuExportTest, TheHostGetsTheIconAndTheRowIconsInThePanelsInk) {
    auto xembed = test::FakeXEmbedTray::start();
    if (!xembed) {
        GTEST_SKIP() << xembed.error();
    }
    const auto inkOfEverything = [&](const QColor& ink) {
        const auto pixmaps = itemPixmaps();
        EXPECT_EQ(pixmaps.size(), 5U);
        for (const QImage& image : pixmaps) {
            EXPECT_TRUE(drawnIn(image, ink))
                << image.width() << " px, " << ink.name().toStdString();
        }
        for (const HostRow& row : layout()) {
            if (row.has("icon-data")) {
                EXPECT_TRUE(drawnIn(row.icon, ink))
                    << row["label"] << ", " << ink.name().toStdString();
            }
        }
        // By name too, for hosts that recolour a symbolic icon; in the same ink for those
        // that draw it as it is.
        const std::string name = itemText("IconName");
        const std::string folder = itemText("IconThemePath");
        EXPECT_TRUE(name.ends_with("-symbolic")) << name;
        const std::string svg = test::readFile(folder + "/" + name + ".svg");
        EXPECT_NE(svg.find("fill=\"" + ink.name().toStdString() + "\""), std::string::npos) << svg;
        EXPECT_EQ(test::readFile(folder + "/hicolor/scalable/apps/" + name + ".svg"), svg);
    };

    (*xembed)->setForeground(0xDADADA);
    ASSERT_TRUE(startTray());
    inkOfEverything(QColor(0xDA, 0xDA, 0xDA));
    tray_.reset();
    menu_.reset();

    // GNOME Shell: no XEmbed tray, its AppIndicator host in the shell's dark panel.
    (*xembed)->setForeground(std::nullopt);
    registrations_.clear();
    ASSERT_GE(sd_bus_request_name(host(), "org.gnome.Shell", 0), 0);
    ASSERT_TRUE(startTray());
    inkOfEverything(QColor(0xF2, 0xF2, 0xF2));
}

// A watcher that refuses the item, does not answer, or takes it and never lists it (GNOME's at
// login, whose host kept a broken proxy): the item comes again on a new connection under a new
// name, the old one leaves the bus, and meanwhile nothing counts as showing it.
TEST_F(TrayMenuExportTest, AnItemTheWatcherDoesNotShowIsRegisteredAgainUnderANewName) {
    for (const WatcherAnswer answer :
         {WatcherAnswer::refuse, WatcherAnswer::silence, WatcherAnswer::unlist}) {
        SCOPED_TRACE(static_cast<int>(answer));
        registrations_.clear();
        listed_.clear();
        nextAnswer_ = answer;
        // The start does not wait for the watcher's answer.
        ASSERT_TRUE(startTray());
        const Registered first = registrations_.front();
        if (answer == WatcherAnswer::silence) {
            EXPECT_TRUE(tray_->isReachable()) << "not known yet";
        }
        ASSERT_TRUE(advanceUntil([&] { return !tray_->isReachable(); }));
        EXPECT_TRUE(advanceUntil([&] { return registrations_.size() == 2; }));
        ASSERT_EQ(registrations_.size(), 2U);
        const Registered& second = registrations_.back();
        EXPECT_NE(second.service, first.service);
        EXPECT_NE(second.sender, first.sender);
        EXPECT_FALSE(onBus(first.sender)) << "a host's proxy for the old item lets go";
        EXPECT_TRUE(advanceUntil([&] { return tray_->isReachable(); }));
        // Shown now: no more registrations however long it runs.
        loop.advance(Seconds(120));
        pump();
        EXPECT_EQ(registrations_.size(), 2U);
        EXPECT_EQ(layout().size(), menu_->menu()->actions().size());
        tray_.reset();
        menu_.reset();
    }
}

// Where an XEmbed tray runs, Qt's icon stands in while the watcher does not show the item, and
// goes once it does.
TEST_F(TrayMenuExportTest, QtsIconStandsInOnAnXEmbedTrayWhileTheItemIsNotShown) {
    auto xembed = test::FakeXEmbedTray::start();
    if (!xembed) {
        GTEST_SKIP() << xembed.error();
    }
    nextAnswer_ = WatcherAnswer::refuse;
    ASSERT_TRUE(startTray());
    ASSERT_TRUE(waitFor([&] { return tray_->qtTrayIcon() != nullptr; }));
    EXPECT_TRUE(tray_->isReachable());
    EXPECT_FALSE(tray_->qtTrayIcon()->icon().isNull());
    ASSERT_TRUE(advanceUntil([&] { return registrations_.size() == 2; }));
    EXPECT_TRUE(advanceUntil([&] { return tray_->qtTrayIcon() == nullptr; }));
    EXPECT_TRUE(tray_->isReachable());
}

// The bus daemon drops a connection that sends more than its message limit: here a menu
// whose layout is over it.
class TrayBusDropTest : public TrayMenuExportTest {
protected:
    std::string busConfig() const override {
        return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration "
               "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><include>/usr/share/dbus-1/session.conf</include>"
               "<limit name=\"max_message_size\">65536</limit></busconfig>\n";
    }
};

TEST_F(TrayBusDropTest, AConnectionTheBusDropsIsMadeAgainAndTheItemRegisteredAnew) {
    ASSERT_TRUE(startTray());
    const Registered first = registrations_.front();
    ASSERT_TRUE(advanceUntil([&] { return registrations_.size() == 1 && onBus(first.sender); }));
    std::vector<QAction*> added;
    for (int i = 0; i < 80; ++i) {
        added.push_back(menu_->menu()->addAction(QString(1000, QLatin1Char('x'))));
    }
    const int layouts = layoutUpdates_;
    ASSERT_TRUE(waitFor([&] { return layoutUpdates_ > layouts; }));
    EXPECT_EQ(callMenu("GetLayout",
                       [](sd_bus_message* m) { return sd_bus_message_append(m, "iias", 0, -1, 0); })
                  .get(),
              nullptr);
    ASSERT_TRUE(waitFor([&] { return !onBus(first.sender); })) << "dropped by the bus";
    for (QAction* action : added) {
        menu_->menu()->removeAction(action);
        delete action;
    }
    ASSERT_TRUE(advanceUntil([&] { return registrations_.size() == 2; }));
    EXPECT_NE(registrations_.back().sender, first.sender);
    EXPECT_TRUE(advanceUntil([&] { return tray_->isReachable(); }));
    EXPECT_EQ(layout().size(), menu_->menu()->actions().size());
}

// What the General pane follows: a host that registers or leaves, a watcher that goes.
TEST_F(TrayMenuExportTest, TheTrayHostWatcherHearsOfHostsAndWatchers) {
    int changes = 0;
    auto watcher = platform::TrayHostWatcher::open(loop, [&changes] { ++changes; });
    ASSERT_TRUE(watcher.has_value()) << watcher.error();
    pump();  // whatever it tells of the watcher found at the start
    const auto heard = [&](const std::function<void()>& event) {
        const int before = changes;
        event();
        return waitFor([&] { return changes > before; });
    };
    for (const char* member : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        EXPECT_TRUE(heard([&] {
            sd_bus_emit_signal(host(), "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                               member, "");
        })) << member;
    }
    EXPECT_TRUE(heard([&] { sd_bus_release_name(host(), "org.kde.StatusNotifierWatcher"); }));
    EXPECT_TRUE(heard([&] { sd_bus_request_name(host(), "org.kde.StatusNotifierWatcher", 0); }));
}

TEST(TrayMenuKeys, AreNamedAsDbusMenuNamesThem) {
    const struct {
        QKeySequence sequence;
        std::vector<std::string> expected;
    } cases[] = {
        {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L), {"Control", "Alt", "l"}},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), {"Control", "q"}},
        {QKeySequence(Qt::SHIFT | Qt::META | Qt::Key_Comma), {"Shift", "Super", "comma"}},
        {QKeySequence(Qt::META | Qt::Key_Space), {"Super", "space"}},
        {QKeySequence(Qt::ALT | Qt::Key_F5), {"Alt", "F5"}},
        {QKeySequence(Qt::ALT | Qt::Key_Left), {"Alt", "Left"}},
        {QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_5)),
         {"Control", "KP_5"}},
        {QKeySequence(Qt::CTRL | Qt::Key_7), {"Control", "7"}},
        {QKeySequence(Qt::META | Qt::Key_VolumeUp), {"Super", "XF86AudioRaiseVolume"}},
        // Nothing a host could show rather than a wrong key.
        {QKeySequence(Qt::CTRL | Qt::Key_Cancel), {}},
        {QKeySequence(), {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dbusMenuKeys(c.sequence), c.expected) << c.sequence.toString().toStdString();
    }
}

}  // namespace
}  // namespace tesvano
