#include "Platform/TextInput/Fcitx/FcitxTextInputSources.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "Platform/DBus/SessionBus.h"
#include "Platform/Log/Log.h"

namespace tesvano::platform {

namespace {

const Logger& logger() {
    static const Logger instance("Fcitx");
    return instance;
}

constexpr const char* kService = "org.fcitx.Fcitx5";
constexpr const char* kPath = "/controller";
constexpr const char* kInterface = "org.fcitx.Fcitx.Controller1";
constexpr dbus::Object kController{kService, kPath, kInterface};
// For the calls sd-bus makes on the monitor and the polls it sends without waiting.
constexpr auto kCallTimeoutMicroseconds = dbus::microseconds(dbus::callTimeout);
constexpr std::string_view kKeyboardPrefix = "keyboard-";
// What Fcitx tells an application's input context when its input method changes.
constexpr const char* kContextInterface = "org.fcitx.Fcitx.InputContext1";
constexpr const char* kContextSignal = "CurrentIM";

struct Entry {
    std::string name;
    std::string language;
};

std::string sourceID(std::string_view inputMethod) {
    return std::string(FcitxTextInputSources::idPrefix) + std::string(inputMethod);
}

std::optional<std::string_view> inputMethodOf(std::string_view id) {
    if (!id.starts_with(FcitxTextInputSources::idPrefix)) {
        return std::nullopt;
    }
    return id.substr(FcitxTextInputSources::idPrefix.size());
}
// The answer views the id: an id that is gone at the end of the statement cannot be asked.
std::optional<std::string_view> inputMethodOf(std::string&&) = delete;

}  // namespace

struct FcitxTextInputSources::Impl {
    Runtime& runtime;
    dbus::Connection bus;
    FcitxTextInputSources* owner = nullptr;
    dbus::NameWatcher ownerWatch{kService,
                                 [this](const std::string& now) { setAvailable(!now.empty()); }};
    dbus::Slot groupsWatch;
    dbus::Slot pendingPoll;
    // A second connection that watches the input contexts' announcements; none where the bus
    // refuses to let us watch, and then the current input method is polled.
    sd_bus* monitor = nullptr;
    Registration monitorWatch;
    Registration monitorLater;
    std::optional<dbus::BusLoop> loop;
    Registration pollTimer;
    bool available = false;
    bool applicationsUseIBus = false;
    // Set by the bus callbacks during a dispatch; the notifications go out after it.
    bool enabledChanged = false;
    bool selectionChanged = false;
    std::optional<std::vector<TextInputSource>> cachedSources;
    // Every input method Fcitx knows, by unique name: its addons load only at its start.
    std::optional<std::map<std::string, Entry, std::less<>>> entries;
    // The current input method as last read, by a poll or right after a selection of ours:
    // a poll that finds another tells of a change, also of one that came and went between two
    // polls after a switch of ours.
    std::optional<std::string> polledCurrent;
    // An input method found current but not in the group, for which the group was read again:
    // once per visit.
    std::optional<std::string> unlistedCurrent;
    dbus::Lifetime lifetime;

    Impl(Runtime& rt, dbus::Connection b) : runtime(rt), bus(std::move(b)) {}
    ~Impl() {
        closeMonitor();
        pollTimer.cancel();
    }

    // A method of the controller with no argument or one string argument.
    template <typename... Argument>
    auto call(const char* member, Argument... argument) {
        return bus.call(kController, dbus::Method{member, sizeof...(argument) ? "s" : ""},
                        argument...);
    }

    std::optional<std::string> callForString(const char* member) {
        const auto reply = call(member);
        const char* text = nullptr;
        if (!reply || sd_bus_message_read(reply->get(), "s", &text) < 0) {
            return std::nullopt;
        }
        return std::string(text);
    }

    const std::map<std::string, Entry, std::less<>>& knownInputMethods() {
        if (entries) {
            return *entries;
        }
        entries.emplace();
        const auto reply = call("AvailableInputMethods");
        if (!reply || sd_bus_message_enter_container(reply->get(), 'a', "(ssssssb)") <= 0) {
            entries.reset();
            static const std::map<std::string, Entry, std::less<>> none;
            return none;
        }
        while (sd_bus_message_enter_container(reply->get(), 'r', "ssssssb") > 0) {
            const char* unique = nullptr;
            const char* name = nullptr;
            const char* native = nullptr;
            const char* icon = nullptr;
            const char* label = nullptr;
            const char* language = nullptr;
            int configurable = 0;
            if (sd_bus_message_read(reply->get(), "ssssssb", &unique, &name, &native, &icon, &label,
                                    &language, &configurable) < 0) {
                break;
            }
            (*entries)[unique] = Entry{name, language};
            sd_bus_message_exit_container(reply->get());
        }
        return *entries;
    }

    // The current group's entries, in Fcitx's order; none when Fcitx did not answer (it
    // may be busy loading its engines).
    std::optional<std::vector<TextInputSource>> readSources() {
        std::vector<TextInputSource> out;
        const auto group = callForString("CurrentInputMethodGroup");
        if (!group) {
            return std::nullopt;
        }
        const auto reply = call("InputMethodGroupInfo", group->c_str());
        const char* layout = nullptr;
        if (!reply || sd_bus_message_read(reply->get(), "s", &layout) < 0 ||
            sd_bus_message_enter_container(reply->get(), 'a', "(ss)") < 0) {
            return std::nullopt;
        }
        std::vector<std::string> names;
        const char* name = nullptr;
        const char* itemLayout = nullptr;
        while (sd_bus_message_read(reply->get(), "(ss)", &name, &itemLayout) > 0) {
            names.emplace_back(name);
        }
        const auto& known = knownInputMethods();
        if (!entries) {
            return std::nullopt;
        }
        for (const auto& inputMethod : names) {
            TextInputSource source;
            source.id = sourceID(inputMethod);
            if (const auto it = known.find(inputMethod); it != known.end()) {
                if (!it->second.name.empty()) {
                    source.localizedName = it->second.name;
                }
                if (!it->second.language.empty()) {
                    source.languages = std::vector<std::string>{it->second.language};
                }
            }
            out.push_back(std::move(source));
        }
        return out;
    }

    std::vector<TextInputSource> sources() {
        if (!available) {
            return {};
        }
        if (!cachedSources) {
            auto read = readSources();
            if (!read) {
                return {};
            }
            cachedSources = std::move(read);
        }
        return *cachedSources;
    }

    std::optional<TextInputSource> find(std::string_view id) { return findSource(sources(), id); }

    // Fcitx announces no change of a group (5.0.21 never sends InputMethodGroupsChanged): the
    // group is read again where what Fcitx does says the list is out of date. A changed list
    // is told from the loop, not from inside the caller's request.
    void rereadGroup() {
        auto read = readSources();
        if (!read || read == cachedSources) {
            return;
        }
        const bool known = cachedSources.has_value();
        cachedSources = std::move(read);
        if (known) {
            logger().info("Fcitx's input method group has changed");
            enabledChanged = true;
            loop->dispatchLater();
        }
    }

    enum class Taken { yes, no, notInGroup };

    // Fcitx ignores, without an error, a request for an input method that is not in the
    // current group, or one it cannot switch to now; what is current right after it tells.
    Taken confirmSelection(const std::string& name) {
        // A poll's answer sent before the request says nothing about it.
        pendingPoll.reset();
        const auto now = callForString("CurrentInputMethod");
        if (!now) {
            return Taken::yes;
        }
        polledCurrent = *now;
        if (*now == name) {
            return Taken::yes;
        }
        rereadGroup();
        return find(sourceID(name)) ? Taken::no : Taken::notInGroup;
    }

    // The current input method, with the group read again when it is not in the list.
    std::optional<std::string> current() {
        auto name = callForString("CurrentInputMethod");
        if (!name || name->empty()) {
            return std::nullopt;
        }
        if (find(sourceID(*name))) {
            unlistedCurrent.reset();
        } else if (unlistedCurrent != *name) {
            unlistedCurrent = *name;
            rereadGroup();
        }
        return name;
    }

    void setAvailable(bool now) {
        if (now == available) {
            return;
        }
        available = now;
        logger().info(now ? "Fcitx 5 is running; its input methods are followed"
                          : "Fcitx 5 has stopped");
        cachedSources.reset();
        entries.reset();
        polledCurrent.reset();
        unlistedCurrent.reset();
        enabledChanged = true;
        selectionChanged = true;
        schedulePoll();
    }

    // Fcitx announces a change of input method only to the application whose input context
    // it is. A monitor of the session bus (the D-Bus Monitoring interface) sees those
    // announcements, so the change costs nothing while nothing happens.
    bool openMonitor() {
        const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        std::string fallback;
        if (address == nullptr) {
            const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
            if (runtimeDir == nullptr) {
                return false;
            }
            fallback = std::string("unix:path=") + runtimeDir + "/bus";
            address = fallback.c_str();
        }
        if (sd_bus_new(&monitor) < 0) {
            return false;
        }
        const std::string rule = std::string("type='signal',interface='") + kContextInterface +
                                 "',member='" + kContextSignal + "'";
        char* rules[] = {const_cast<char*>(rule.c_str()), nullptr};
        dbus::Reply request;
        if (sd_bus_set_monitor(monitor, 1) < 0 || sd_bus_set_bus_client(monitor, 1) < 0 ||
            sd_bus_set_address(monitor, address) < 0 || sd_bus_start(monitor) < 0 ||
            sd_bus_message_new_method_call(
                monitor, request.out(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus.Monitoring", "BecomeMonitor") < 0 ||
            sd_bus_message_append_strv(request.get(), rules) < 0 ||
            sd_bus_message_append(request.get(), "u", 0U) < 0 ||
            sd_bus_call(monitor, request.get(), kCallTimeoutMicroseconds, nullptr, nullptr) < 0) {
            monitor = sd_bus_flush_close_unref(monitor);
            return false;
        }
        monitorWatch = runtime.watchReadable(sd_bus_get_fd(monitor), [this] { drainMonitor(); });
        lifetime.later(runtime, [this] { drainMonitor(); });
        return true;
    }

    void closeMonitor() {
        monitorWatch.cancel();
        monitorLater.cancel();
        monitor = sd_bus_flush_close_unref(monitor);
    }

    void drainMonitor() {
        bool changed = false;
        monitorLater.cancel();
        for (int handled = 0; monitor != nullptr; ++handled) {
            // A bounded batch per turn of the loop, the rest on the next one.
            if (handled == dbus::BusLoop::batchMessages) {
                monitorLater = runtime.after(Seconds(0), [this] { drainMonitor(); });
                break;
            }
            sd_bus_message* message = nullptr;
            const int r = sd_bus_process(monitor, &message);
            if (r < 0) {
                // The bus went away under the monitor: poll from now on.
                closeMonitor();
                schedulePoll();
                break;
            }
            if (message != nullptr) {
                changed |= sd_bus_message_is_signal(message, kContextInterface, kContextSignal) > 0;
                sd_bus_message_unref(message);
            } else if (r == 0) {
                break;
            }
        }
        if (changed && available) {
            owner->notifySelectionChanged();
        }
    }

    // Without the monitor, or with applications on Fcitx's IBus emulation (whose changes the
    // monitor does not see), the current input method is read now and then while Fcitx
    // runs, without waiting for the answer.
    void schedulePoll() {
        if (!available || (monitor != nullptr && !applicationsUseIBus)) {
            pollTimer.cancel();
            return;
        }
        if (pollTimer.active()) {
            return;
        }
        pollTimer = runtime.after(FcitxTextInputSources::currentPollInterval, [this] {
            pollTimer.cancel();
            loop->dispatch();
            if (!pendingPoll.get() && available) {
                dbus::Reply request;
                if (sd_bus_message_new_method_call(bus.get(), request.out(), kService, kPath,
                                                   kInterface, "CurrentInputMethod") >= 0 &&
                    sd_bus_message_set_auto_start(request.get(), 0) >= 0) {
                    sd_bus_call_async(bus.get(), pendingPoll.out(), request.get(), &Impl::onPolled,
                                      this, kCallTimeoutMicroseconds);
                }
            }
            schedulePoll();
        });
    }

    static int onPolled(sd_bus_message* reply, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        self->pendingPoll.reset();
        const char* name = nullptr;
        if (sd_bus_message_is_method_error(reply, nullptr) ||
            sd_bus_message_read(reply, "s", &name) < 0) {
            return 0;
        }
        if (self->polledCurrent && *self->polledCurrent != name) {
            self->selectionChanged = true;
        }
        self->polledCurrent = name;
        return 0;
    }

    static int onGroupsChanged(sd_bus_message*, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        self->cachedSources.reset();
        self->enabledChanged = true;
        self->selectionChanged = true;
        return 0;
    }

    // Follows Fcitx on the connection: the first one, and each one opened again after the
    // bus dropped the last.
    int attach() {
        int r = ownerWatch.start(bus);
        if (r >= 0) {
            r = sd_bus_match_signal(bus.get(), groupsWatch.out(), kService, kPath, kInterface,
                                    "InputMethodGroupsChanged", &Impl::onGroupsChanged, this);
        }
        return r;
    }

    int reattach() {
        // A poll sent on the connection that is gone gets no answer.
        pendingPoll.reset();
        const int r = attach();
        if (r >= 0) {
            if (monitor == nullptr) {
                openMonitor();
            }
            setAvailable(!ownerWatch.owner().empty());
        }
        return r;
    }

    void settled(int result) {
        // Deaf until the connection is open again: nothing is listed meanwhile.
        if (result < 0) {
            setAvailable(false);
        }
        lifetime.tell({
            {std::exchange(enabledChanged, false),
             [this] { owner->notifyEnabledSourcesChanged(); }},
            {std::exchange(selectionChanged, false), [this] { owner->notifySelectionChanged(); }},
        });
    }
};

std::expected<std::unique_ptr<FcitxTextInputSources>, std::string> FcitxTextInputSources::open(
    Runtime& runtime, bool applicationsUseIBus) {
    auto bus = dbus::Connection::open();
    if (!bus) {
        return std::unexpected(bus.error());
    }
    auto impl = std::make_unique<Impl>(runtime, std::move(*bus));
    Impl* state = impl.get();
    if (const int r = state->attach(); r < 0) {
        return std::unexpected(std::string("cannot watch Fcitx on the session bus: ") +
                               std::strerror(-r));
    }
    std::unique_ptr<FcitxTextInputSources> sources(new FcitxTextInputSources(std::move(impl)));
    state->owner = sources.get();
    state->applicationsUseIBus = applicationsUseIBus;
    state->loop.emplace(
        runtime, state->bus, [state](int result) { state->settled(result); },
        [state] { return state->reattach(); });
    state->openMonitor();
    state->setAvailable(!state->ownerWatch.owner().empty());
    // Nobody listens yet: the first availability is no change.
    state->enabledChanged = false;
    state->selectionChanged = false;
    // Whatever arrived while we asked for the first state.
    state->loop->dispatchLater();
    return sources;
}

FcitxTextInputSources::FcitxTextInputSources(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FcitxTextInputSources::~FcitxTextInputSources() = default;

std::vector<TextInputSource> FcitxTextInputSources::sources() {
    return impl_->sources();
}

std::optional<TextInputSource> FcitxTextInputSources::currentKeyboardSource() {
    if (!impl_->available) {
        return std::nullopt;
    }
    const auto name = impl_->current();
    // No input context has had the focus yet: nothing is current.
    if (!name) {
        return std::nullopt;
    }
    return listedOrBare(impl_->sources(), sourceID(*name));
}

std::optional<TextInputSource> FcitxTextInputSources::sourceWithID(std::string_view id) {
    return impl_->find(id);
}

SelectStatus FcitxTextInputSources::select(const TextInputSource& source) {
    const std::string id = source.id.value_or("");
    const auto inputMethod = inputMethodOf(id);
    if (!inputMethod || !impl_->find(id)) {
        return SelectStatus::unknownSource;
    }
    const std::string name(*inputMethod);
    if (!impl_->call("SetCurrentIM", name.c_str())) {
        return SelectStatus::failed;
    }
    switch (impl_->confirmSelection(name)) {
        case Impl::Taken::yes:
            return SelectStatus::ok;
        case Impl::Taken::no:
            return SelectStatus::failed;
        case Impl::Taken::notInGroup:
            break;
    }
    return SelectStatus::unknownSource;
}

bool FcitxTextInputSources::isAvailable() {
    return impl_->available;
}

bool FcitxTextInputSources::managesKeyboardLayouts() {
    return std::ranges::any_of(impl_->sources(), [](const TextInputSource& source) {
        return source.id && source.id->starts_with(sourceID(kKeyboardPrefix));
    });
}

FocusedSelection FcitxTextInputSources::selectInFocusedContext(const TextInputSource& source) {
    using Kind = FocusedSelectionFailure::Kind;
    // The name is a view into the id: the id must outlive it.
    const std::string id = source.id.value_or("");
    const auto inputMethod = inputMethodOf(id);
    if (!impl_->available || !inputMethod) {
        return std::unexpected(FocusedSelectionFailure{Kind::unavailable, 0});
    }
    const auto state = impl_->call("State");
    if (!state) {
        return std::unexpected(FocusedSelectionFailure{Kind::transport, state.error().code});
    }
    std::int32_t value = 0;
    if (sd_bus_message_read(state->get(), "i", &value) < 0) {
        return std::unexpected(FocusedSelectionFailure{Kind::invalidReply, 0});
    }
    // 0: no input context has the focus.
    if (value == 0) {
        return std::unexpected(FocusedSelectionFailure{Kind::noFocus, 0});
    }
    const std::string name(*inputMethod);
    if (const auto reply = impl_->call("SetCurrentIM", name.c_str()); !reply) {
        return std::unexpected(FocusedSelectionFailure{Kind::rejected, reply.error().code});
    }
    if (impl_->confirmSelection(name) != Impl::Taken::yes) {
        return std::unexpected(FocusedSelectionFailure{Kind::rejected, 0});
    }
    return {};
}

}  // namespace tesvano::platform
