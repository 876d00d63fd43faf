#include "Platform/TextInput/Fcitx/FcitxTextInputSources.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

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
// Fcitx answers from its own main loop; a daemon that hangs must not hold ours for long.
constexpr std::uint64_t kCallTimeoutMicroseconds = 500'000;
constexpr std::string_view kKeyboardPrefix = "keyboard-";
// What Fcitx tells an application's input context when its input method changes.
constexpr const char* kContextInterface = "org.fcitx.Fcitx.InputContext1";
constexpr const char* kContextSignal = "CurrentIM";

struct Reply {
    sd_bus_message* message = nullptr;
    ~Reply() { sd_bus_message_unref(message); }
};

struct CallError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~CallError() { sd_bus_error_free(&error); }
};

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

}  // namespace

struct FcitxTextInputSources::Impl {
    Runtime& runtime;
    sd_bus* bus = nullptr;
    FcitxTextInputSources* owner = nullptr;
    sd_bus_slot* ownerWatch = nullptr;
    sd_bus_slot* groupsWatch = nullptr;
    sd_bus_slot* pendingPoll = nullptr;
    // A second connection that watches the input contexts' announcements; none where the bus
    // refuses to let us watch, and then the current input method is polled.
    sd_bus* monitor = nullptr;
    Registration monitorWatch;
    Registration fdWatch;
    Registration laterDispatch;
    Registration pollTimer;
    bool available = false;
    bool applicationsUseIBus = false;
    // Set by the bus callbacks during a dispatch; the notifications go out after it.
    bool enabledChanged = false;
    bool selectionChanged = false;
    std::optional<std::vector<TextInputSource>> cachedSources;
    // Every input method Fcitx knows, by unique name: its addons load only at its start.
    std::optional<std::map<std::string, Entry, std::less<>>> entries;
    std::optional<std::string> polledCurrent;
    std::shared_ptr<int> lifeToken = std::make_shared<int>(0);

    Impl(Runtime& rt, sd_bus* b) : runtime(rt), bus(b) {}
    ~Impl() {
        closeMonitor();
        fdWatch.cancel();
        laterDispatch.cancel();
        pollTimer.cancel();
        sd_bus_slot_unref(pendingPoll);
        sd_bus_slot_unref(groupsWatch);
        sd_bus_slot_unref(ownerWatch);
        sd_bus_flush_close_unref(bus);
    }

    // A method of the controller with no argument or one string argument.
    int call(const char* member, Reply& reply, const char* argument = nullptr) {
        CallError error;
        Reply request;
        int r = sd_bus_message_new_method_call(bus, &request.message, kService, kPath, kInterface,
                                               member);
        if (r >= 0 && argument != nullptr) {
            r = sd_bus_message_append(request.message, "s", argument);
        }
        // A call must never be what starts Fcitx: the bus would start it for a name nobody
        // holds (a session without Fcitx, or one whose Fcitx just quit).
        if (r >= 0) {
            r = sd_bus_message_set_auto_start(request.message, 0);
        }
        if (r >= 0) {
            r = sd_bus_call(bus, request.message, kCallTimeoutMicroseconds, &error.error,
                            &reply.message);
        }
        dispatchLaterIfQueued();
        return r;
    }

    std::optional<std::string> callForString(const char* member) {
        Reply reply;
        const char* text = nullptr;
        if (call(member, reply) < 0 || sd_bus_message_read(reply.message, "s", &text) < 0) {
            return std::nullopt;
        }
        return std::string(text);
    }

    bool askAvailable() {
        CallError error;
        Reply reply;
        int hasOwner = 0;
        const int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus", "NameHasOwner", &error.error,
                                         &reply.message, "s", kService);
        dispatchLaterIfQueued();
        return r >= 0 && sd_bus_message_read(reply.message, "b", &hasOwner) >= 0 && hasOwner != 0;
    }

    const std::map<std::string, Entry, std::less<>>& knownInputMethods() {
        if (entries) {
            return *entries;
        }
        entries.emplace();
        Reply reply;
        if (call("AvailableInputMethods", reply) < 0 ||
            sd_bus_message_enter_container(reply.message, 'a', "(ssssssb)") <= 0) {
            entries.reset();
            static const std::map<std::string, Entry, std::less<>> none;
            return none;
        }
        while (sd_bus_message_enter_container(reply.message, 'r', "ssssssb") > 0) {
            const char* unique = nullptr;
            const char* name = nullptr;
            const char* native = nullptr;
            const char* icon = nullptr;
            const char* label = nullptr;
            const char* language = nullptr;
            int configurable = 0;
            if (sd_bus_message_read(reply.message, "ssssssb", &unique, &name, &native, &icon,
                                    &label, &language, &configurable) < 0) {
                break;
            }
            (*entries)[unique] = Entry{name, language};
            sd_bus_message_exit_container(reply.message);
        }
        return *entries;
    }

    // The current group's entries, in Fcitx's order; none when Fcitx did not answer (it
    // may be busy loading its engines).
    std::optional<std::vector<TextInputSource>> readSources() {
        std::vector<TextInputSource> out;
        const auto group = callForString("CurrentInputMethodGroup");
        Reply reply;
        const char* layout = nullptr;
        if (!group || call("InputMethodGroupInfo", reply, group->c_str()) < 0 ||
            sd_bus_message_read(reply.message, "s", &layout) < 0 ||
            sd_bus_message_enter_container(reply.message, 'a', "(ss)") < 0) {
            return std::nullopt;
        }
        std::vector<std::string> names;
        const char* name = nullptr;
        const char* itemLayout = nullptr;
        while (sd_bus_message_read(reply.message, "(ss)", &name, &itemLayout) > 0) {
            names.emplace_back(name);
        }
        const auto& known = knownInputMethods();
        if (!entries) {
            return std::nullopt;
        }
        for (const auto& inputMethod : names) {
            TextInputSource source;
            source.id = sourceID(inputMethod);
            source.category = std::string(keyboardInputSourceCategory);
            source.isSelectCapable = true;
            source.isEnabled = true;
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
        Reply request;
        CallError error;
        if (sd_bus_set_monitor(monitor, 1) < 0 || sd_bus_set_bus_client(monitor, 1) < 0 ||
            sd_bus_set_address(monitor, address) < 0 || sd_bus_start(monitor) < 0 ||
            sd_bus_message_new_method_call(
                monitor, &request.message, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus.Monitoring", "BecomeMonitor") < 0 ||
            sd_bus_message_append_strv(request.message, rules) < 0 ||
            sd_bus_message_append(request.message, "u", 0U) < 0 ||
            sd_bus_call(monitor, request.message, kCallTimeoutMicroseconds, &error.error, nullptr) <
                0) {
            monitor = sd_bus_flush_close_unref(monitor);
            return false;
        }
        monitorWatch = runtime.watchReadable(sd_bus_get_fd(monitor), [this] { drainMonitor(); });
        runtime.post(Seconds(0), [alive = std::weak_ptr<int>(lifeToken), this] {
            if (!alive.expired()) {
                drainMonitor();
            }
        });
        return true;
    }

    void closeMonitor() {
        monitorWatch.cancel();
        monitor = sd_bus_flush_close_unref(monitor);
    }

    void drainMonitor() {
        bool changed = false;
        while (monitor != nullptr) {
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
            dispatch();
            if (pendingPoll == nullptr && available) {
                Reply request;
                if (sd_bus_message_new_method_call(bus, &request.message, kService, kPath,
                                                   kInterface, "CurrentInputMethod") >= 0 &&
                    sd_bus_message_set_auto_start(request.message, 0) >= 0) {
                    sd_bus_call_async(bus, &pendingPoll, request.message, &Impl::onPolled, this,
                                      kCallTimeoutMicroseconds);
                }
            }
            schedulePoll();
        });
    }

    static int onPolled(sd_bus_message* reply, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        self->pendingPoll = sd_bus_slot_unref(self->pendingPoll);
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

    static int onOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        const char* name = nullptr;
        const char* before = nullptr;
        const char* after = nullptr;
        if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0 ||
            std::strcmp(name, kService) != 0) {
            return 0;
        }
        // A restart may come as one change from the old owner to the new one.
        if (*before != '\0' && *after != '\0') {
            self->setAvailable(false);
        }
        self->setAvailable(*after != '\0');
        return 0;
    }

    static int onGroupsChanged(sd_bus_message*, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        self->cachedSources.reset();
        self->enabledChanged = true;
        self->selectionChanged = true;
        return 0;
    }

    void dispatch() {
        laterDispatch.cancel();
        while (sd_bus_process(bus, nullptr) > 0) {
        }
        const bool enabled = std::exchange(enabledChanged, false);
        const bool selection = std::exchange(selectionChanged, false);
        const std::weak_ptr<int> alive = lifeToken;
        if (enabled) {
            owner->notifyEnabledSourcesChanged();
        }
        if (selection && !alive.expired()) {
            owner->notifySelectionChanged();
        }
    }

    // A call reads whatever else has arrived into sd-bus's queue, and then the socket no
    // longer wakes us for it; such messages are dispatched from the loop instead.
    void dispatchLaterIfQueued() {
        std::uint64_t timeout = 0;
        if (laterDispatch.active() || sd_bus_get_timeout(bus, &timeout) < 0 || timeout != 0) {
            return;
        }
        laterDispatch = runtime.after(Seconds(0), [this] { dispatch(); });
    }
};

std::expected<std::unique_ptr<FcitxTextInputSources>, std::string> FcitxTextInputSources::open(
    Runtime& runtime, bool applicationsUseIBus) {
    sd_bus* bus = nullptr;
    if (const int r = sd_bus_open_user(&bus); r < 0) {
        return std::unexpected(std::string("no session bus: ") + std::strerror(-r));
    }
    auto impl = std::make_unique<Impl>(runtime, bus);
    const std::string ownerRule =
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
        "member='NameOwnerChanged',arg0='" +
        std::string(kService) + "'";
    const std::string groupsRule = "type='signal',sender='" + std::string(kService) + "',path='" +
                                   kPath + "',interface='" + kInterface +
                                   "',member='InputMethodGroupsChanged'";
    if (const int r = sd_bus_add_match(bus, &impl->ownerWatch, ownerRule.c_str(),
                                       &Impl::onOwnerChanged, impl.get());
        r < 0) {
        return std::unexpected(std::string("cannot watch Fcitx on the session bus: ") +
                               std::strerror(-r));
    }
    if (const int r = sd_bus_add_match(bus, &impl->groupsWatch, groupsRule.c_str(),
                                       &Impl::onGroupsChanged, impl.get());
        r < 0) {
        return std::unexpected(std::string("cannot watch Fcitx on the session bus: ") +
                               std::strerror(-r));
    }
    std::unique_ptr<FcitxTextInputSources> sources(new FcitxTextInputSources(std::move(impl)));
    Impl* state = sources->impl_.get();
    state->owner = sources.get();
    state->applicationsUseIBus = applicationsUseIBus;
    state->fdWatch = runtime.watchReadable(sd_bus_get_fd(bus), [state] { state->dispatch(); });
    state->openMonitor();
    state->setAvailable(state->askAvailable());
    // Nobody listens yet: the first availability is no change.
    state->enabledChanged = false;
    state->selectionChanged = false;
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
    const auto name = impl_->callForString("CurrentInputMethod");
    // No input context has had the focus yet: nothing is current.
    if (!name || name->empty()) {
        return std::nullopt;
    }
    return listedOrBare(impl_->sources(), sourceID(*name));
}

std::optional<TextInputSource> FcitxTextInputSources::sourceWithID(std::string_view id) {
    return impl_->find(id);
}

SelectStatus FcitxTextInputSources::select(std::string_view id) {
    const auto inputMethod = inputMethodOf(id);
    if (!inputMethod || !impl_->find(id)) {
        return SelectStatus::unknownSource;
    }
    Reply reply;
    const std::string name(*inputMethod);
    return impl_->call("SetCurrentIM", reply, name.c_str()) >= 0 ? SelectStatus::ok
                                                                 : SelectStatus::failed;
}

bool FcitxTextInputSources::isAvailable() {
    return impl_->available;
}

bool FcitxTextInputSources::managesKeyboardLayouts() {
    return std::ranges::any_of(impl_->sources(), [](const TextInputSource& source) {
        return source.id && source.id->starts_with(sourceID(kKeyboardPrefix));
    });
}

FocusedSelection FcitxTextInputSources::selectInFocusedContext(std::string_view id) {
    using Kind = FocusedSelectionFailure::Kind;
    const auto inputMethod = inputMethodOf(id);
    if (!impl_->available || !inputMethod) {
        return std::unexpected(FocusedSelectionFailure{Kind::unavailable, 0});
    }
    Reply state;
    if (const int r = impl_->call("State", state); r < 0) {
        return std::unexpected(FocusedSelectionFailure{Kind::transport, r});
    }
    std::int32_t value = 0;
    if (sd_bus_message_read(state.message, "i", &value) < 0) {
        return std::unexpected(FocusedSelectionFailure{Kind::invalidReply, 0});
    }
    // 0: no input context has the focus.
    if (value == 0) {
        return std::unexpected(FocusedSelectionFailure{Kind::noFocus, 0});
    }
    Reply reply;
    const std::string name(*inputMethod);
    if (const int r = impl_->call("SetCurrentIM", reply, name.c_str()); r < 0) {
        return std::unexpected(FocusedSelectionFailure{Kind::rejected, r});
    }
    return {};
}

}  // namespace tesvano::platform
