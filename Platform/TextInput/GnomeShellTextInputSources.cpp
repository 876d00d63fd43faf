#include "Platform/TextInput/GnomeShellTextInputSources.h"

#include <algorithm>
#include <cstring>
#include <ranges>
#include <utility>

#include "Platform/Log/Log.h"
#include "Platform/TextInput/XkbLayoutRegistry.h"

#if TESVANO_HAVE_SYSTEMD
#include <systemd/sd-bus.h>
#endif

namespace tesvano::platform {

namespace gnome_shell {

namespace {
constexpr std::string_view xkbType = "xkb";
}  // namespace

std::string sourceID(const ShellSource& source) {
    std::string id = source.type + ":";
    // The shell joins an XKB layout and its variant with '+'; we write "layout(variant)".
    if (source.type == xkbType) {
        if (const auto plus = source.id.find('+'); plus != std::string::npos) {
            return id + source.id.substr(0, plus) + "(" + source.id.substr(plus + 1) + ")";
        }
    }
    return id + source.id;
}

std::optional<ShellSource> shellSource(std::string_view sourceID) {
    const auto colon = sourceID.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == sourceID.size()) {
        return std::nullopt;
    }
    ShellSource source{std::string(sourceID.substr(0, colon)),
                       std::string(sourceID.substr(colon + 1))};
    if (source.type == xkbType) {
        const auto open = source.id.find('(');
        if (open != std::string::npos) {
            if (open == 0 || !source.id.ends_with(')') || open + 2 >= source.id.size()) {
                return std::nullopt;
            }
            source.id = source.id.substr(0, open) + "+" +
                        source.id.substr(open + 1, source.id.size() - open - 2);
        }
    }
    return source;
}

bool isGnomeDesktop(std::string_view currentDesktop) {
    for (auto part : std::views::split(currentDesktop, ':')) {
        if (std::string_view(part.begin(), part.end()) == "GNOME") {
            return true;
        }
    }
    return false;
}

}  // namespace gnome_shell

namespace {

const Logger& logger() {
    static const Logger log("GnomeShellSources");
    return log;
}

}  // namespace

#if TESVANO_HAVE_SYSTEMD

struct GnomeShellTextInputSources::Impl {
    Runtime& runtime;
    sd_bus* bus = nullptr;
    std::unique_ptr<TextInputSources> fallback;
    std::uint64_t timeoutUsec;
    sd_bus_slot* sourceSignals = nullptr;
    sd_bus_slot* ownerSignals = nullptr;
    Registration fdWatch;
    Registration laterDispatch;
    Registration fallbackSelection;
    Registration fallbackSources;
    bool dispatchPending = false;
    // A call since the last dispatch: signals may wait in the connection's queue.
    bool called = false;
    bool answers = false;
    std::optional<std::vector<TextInputSource>> cachedSources;
    std::optional<std::optional<std::string>> cachedCurrent;
    std::optional<std::string> lastNotifiedCurrent;
    // What the signals of one dispatch said, acted on once the bus is done with them.
    bool ownerChanged = false;
    bool sourcesChanged = false;
    bool selectionChanged = false;
    std::optional<XkbLayoutRegistry> registry;
    std::shared_ptr<int> lifeToken = std::make_shared<int>(0);

    Impl(Runtime& rt, sd_bus* b, std::unique_ptr<TextInputSources> f, std::uint64_t timeout)
        : runtime(rt), bus(b), fallback(std::move(f)), timeoutUsec(timeout) {}
    ~Impl() {
        fdWatch.cancel();
        laterDispatch.cancel();
        sd_bus_slot_unref(sourceSignals);
        sd_bus_slot_unref(ownerSignals);
        sd_bus_flush_close_unref(bus);
    }

    // Calls a method of the extension; the reply, or none with the reason logged.
    sd_bus_message* call(const char* member, const char* types = nullptr,
                         const char* first = nullptr, const char* second = nullptr) {
        sd_bus_message* reply = nullptr;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* message = nullptr;
        called = true;
        int r = sd_bus_message_new_method_call(bus, &message, gnome_shell::busName,
                                               gnome_shell::objectPath, gnome_shell::interfaceName,
                                               member);
        if (r >= 0 && types) {
            r = sd_bus_message_append(message, types, first, second);
        }
        if (r >= 0) {
            r = sd_bus_call(bus, message, timeoutUsec, &error, &reply);
        }
        sd_bus_message_unref(message);
        if (r < 0) {
            logger().info("the shell's %{public}s failed: %{public}s", std::string(member),
                          std::string(error.message ? error.message : std::strerror(-r)));
            sd_bus_error_free(&error);
            return nullptr;
        }
        return reply;
    }

    std::vector<std::string> languagesOf(const gnome_shell::ShellSource& source) {
        if (source.type != "xkb") {
            return {};
        }
        if (!registry) {
            registry.emplace("evdev");
        }
        const auto plus = source.id.find('+');
        const std::string layout = source.id.substr(0, plus);
        const std::string variant =
            plus == std::string::npos ? std::string() : source.id.substr(plus + 1);
        const auto* entry = registry->find(layout, variant);
        return entry ? entry->languages : std::vector<std::string>{};
    }

    std::optional<std::vector<TextInputSource>> readSources() {
        sd_bus_message* reply = call("GetSources");
        if (!reply) {
            return std::nullopt;
        }
        std::vector<TextInputSource> out;
        int r = sd_bus_message_enter_container(reply, 'a', "(ssss)");
        while (r > 0) {
            const char* type = nullptr;
            const char* id = nullptr;
            const char* name = nullptr;
            const char* shortName = nullptr;
            r = sd_bus_message_read(reply, "(ssss)", &type, &id, &name, &shortName);
            if (r <= 0) {
                break;
            }
            const gnome_shell::ShellSource shell{type, id};
            TextInputSource source;
            source.id = gnome_shell::sourceID(shell);
            source.category = std::string(keyboardInputSourceCategory);
            if (*name) {
                source.localizedName = std::string(name);
            }
            source.isSelectCapable = true;
            source.isEnabled = true;
            if (auto languages = languagesOf(shell); !languages.empty()) {
                source.languages = std::move(languages);
            }
            out.push_back(std::move(source));
        }
        sd_bus_message_unref(reply);
        if (r < 0) {
            logger().info("the shell's sources could not be read: %{public}s",
                          std::string(std::strerror(-r)));
            return std::nullopt;
        }
        return out;
    }

    static std::optional<std::string> readCurrent(sd_bus_message* message) {
        const char* type = nullptr;
        const char* id = nullptr;
        if (sd_bus_message_read(message, "(ss)", &type, &id) <= 0 || !*type || !*id) {
            return std::nullopt;
        }
        return gnome_shell::sourceID({type, id});
    }

    std::vector<TextInputSource> sources() {
        if (!answers) {
            return fallback ? fallback->sources() : std::vector<TextInputSource>{};
        }
        if (!cachedSources) {
            cachedSources = readSources();
            if (!cachedSources) {
                return {};
            }
        }
        return *cachedSources;
    }

    std::optional<std::string> currentID() {
        if (!answers) {
            if (auto current = fallback ? fallback->currentKeyboardSource() : std::nullopt) {
                return current->id;
            }
            return std::nullopt;
        }
        if (!cachedCurrent) {
            sd_bus_message* reply = call("GetCurrent");
            if (!reply) {
                return std::nullopt;
            }
            cachedCurrent = readCurrent(reply);
            sd_bus_message_unref(reply);
        }
        return *cachedCurrent;
    }

    bool readOwner() {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus", "NameHasOwner", &error, &reply,
                                         "s", gnome_shell::busName);
        int has = 0;
        if (r >= 0) {
            sd_bus_message_read(reply, "b", &has);
        }
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        return has != 0;
    }

    static int onSourceSignal(sd_bus_message* message, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        if (sd_bus_message_is_signal(message, gnome_shell::interfaceName, "SourcesChanged")) {
            self->sourcesChanged = true;
        } else if (sd_bus_message_is_signal(message, gnome_shell::interfaceName,
                                            "CurrentSourceChanged")) {
            self->cachedCurrent = readCurrent(message);
            self->selectionChanged = true;
        }
        return 0;
    }

    static int onOwnerSignal(sd_bus_message* message, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        const char* name = nullptr;
        const char* oldOwner = nullptr;
        const char* newOwner = nullptr;
        if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) > 0 &&
            std::strcmp(name, gnome_shell::busName) == 0) {
            self->answers = *newOwner != '\0';
            self->ownerChanged = true;
        }
        return 0;
    }
};

std::expected<std::unique_ptr<GnomeShellTextInputSources>, std::string>
GnomeShellTextInputSources::open(Runtime& runtime, std::unique_ptr<TextInputSources> fallback,
                                 std::chrono::milliseconds timeout, const std::string& busAddress) {
    sd_bus* bus = nullptr;
    int r = 0;
    if (busAddress.empty()) {
        r = sd_bus_open_user(&bus);
    } else {
        r = sd_bus_new(&bus);
        if (r >= 0) {
            sd_bus_set_address(bus, busAddress.c_str());
            sd_bus_set_bus_client(bus, 1);
            r = sd_bus_start(bus);
        }
    }
    if (r < 0) {
        sd_bus_unref(bus);
        return std::unexpected(std::string("no session bus: ") + std::strerror(-r));
    }
    auto impl = std::make_unique<Impl>(runtime, bus, std::move(fallback),
                                       static_cast<std::uint64_t>(timeout.count()) * 1000U);
    const std::string sourceRule = std::string("type='signal',path='") + gnome_shell::objectPath +
                                   "',interface='" + gnome_shell::interfaceName + "'";
    const std::string ownerRule =
        std::string(
            "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
            "member='NameOwnerChanged',arg0='") +
        gnome_shell::busName + "'";
    r = sd_bus_add_match(bus, &impl->sourceSignals, sourceRule.c_str(), &Impl::onSourceSignal,
                         impl.get());
    if (r >= 0) {
        r = sd_bus_add_match(bus, &impl->ownerSignals, ownerRule.c_str(), &Impl::onOwnerSignal,
                             impl.get());
    }
    if (r < 0) {
        return std::unexpected(std::string("cannot follow the shell's input sources: ") +
                               std::strerror(-r));
    }
    impl->answers = impl->readOwner();
    logger().info("the shell's input sources %{public}s",
                  std::string(impl->answers ? "answer" : "do not answer; not selecting"));
    std::unique_ptr<GnomeShellTextInputSources> sources(
        new GnomeShellTextInputSources(std::move(impl)));
    GnomeShellTextInputSources* self = sources.get();
    self->impl_->lastNotifiedCurrent = self->impl_->currentID();
    self->impl_->fdWatch = runtime.watchReadable(sd_bus_get_fd(bus), [self] { self->dispatch(); });
    if (auto* f = self->impl_->fallback.get()) {
        self->impl_->fallbackSelection = f->onSelectionChanged([self] {
            if (!self->impl_->answers) {
                self->impl_->lastNotifiedCurrent = self->impl_->currentID();
                self->notifySelectionChanged();
            }
        });
        self->impl_->fallbackSources = f->onEnabledSourcesChanged([self] {
            if (!self->impl_->answers) {
                self->notifyEnabledSourcesChanged();
            }
        });
    }
    // Whatever arrived while we asked for the first state.
    self->impl_->called = true;
    self->dispatchLater();
    return sources;
}

GnomeShellTextInputSources::GnomeShellTextInputSources(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl)) {}

GnomeShellTextInputSources::~GnomeShellTextInputSources() = default;

bool GnomeShellTextInputSources::extensionAnswers() const {
    return impl_->answers;
}

std::vector<TextInputSource> GnomeShellTextInputSources::sources() {
    auto out = impl_->sources();
    dispatchLater();
    return out;
}

std::optional<TextInputSource> GnomeShellTextInputSources::currentKeyboardSource() {
    const auto id = impl_->currentID();
    std::optional<TextInputSource> found;
    if (id) {
        found = sourceWithID(*id);
    }
    dispatchLater();
    return found;
}

std::optional<TextInputSource> GnomeShellTextInputSources::sourceWithID(std::string_view id) {
    std::optional<TextInputSource> found;
    for (auto& source : impl_->sources()) {
        if (source.id == id) {
            found = std::move(source);
            break;
        }
    }
    dispatchLater();
    return found;
}

SelectStatus GnomeShellTextInputSources::select(std::string_view id) {
    if (!impl_->answers) {
        return SelectStatus::failed;
    }
    const auto shell = gnome_shell::shellSource(id);
    if (!shell || !sourceWithID(id)) {
        return SelectStatus::unknownSource;
    }
    sd_bus_message* reply = impl_->call("Activate", "ss", shell->type.c_str(), shell->id.c_str());
    dispatchLater();
    if (!reply) {
        return SelectStatus::failed;
    }
    int found = 0;
    sd_bus_message_read(reply, "b", &found);
    sd_bus_message_unref(reply);
    if (!found) {
        impl_->cachedSources.reset();
        return SelectStatus::unknownSource;
    }
    // The shell switched before it replied; its signal says so to the observers.
    impl_->cachedCurrent = std::string(id);
    return SelectStatus::ok;
}

void GnomeShellTextInputSources::dispatch() {
    impl_->dispatchPending = false;
    impl_->called = false;
    int r = 0;
    while ((r = sd_bus_process(impl_->bus, nullptr)) > 0) {
    }
    if (r < 0) {
        logger().notice("the session bus went away: %{public}s", std::string(std::strerror(-r)));
        impl_->fdWatch.cancel();
        impl_->ownerChanged = impl_->answers;
        impl_->answers = false;
    }
    bool sourcesChanged = std::exchange(impl_->sourcesChanged, false);
    const bool ownerChanged = std::exchange(impl_->ownerChanged, false);
    bool selectionChanged = std::exchange(impl_->selectionChanged, false);
    if (ownerChanged) {
        logger().info("the shell's input sources %{public}s",
                      std::string(impl_->answers ? "answer" : "no longer answer"));
        sourcesChanged = true;
    }
    if (sourcesChanged) {
        impl_->cachedSources.reset();
        impl_->cachedCurrent.reset();
    }
    if (sourcesChanged || selectionChanged) {
        auto current = impl_->currentID();
        selectionChanged = current != impl_->lastNotifiedCurrent;
        impl_->lastNotifiedCurrent = std::move(current);
    }
    const std::weak_ptr<int> alive = impl_->lifeToken;
    if (sourcesChanged) {
        notifyEnabledSourcesChanged();
    }
    if (selectionChanged && !alive.expired()) {
        notifySelectionChanged();
    }
    if (!alive.expired()) {
        dispatchLater();
    }
}

// A call waits for its reply and keeps the signals that arrive meanwhile in the connection's
// queue, where the socket no longer wakes us for them; they are dispatched from the loop.
void GnomeShellTextInputSources::dispatchLater() {
    if (impl_->dispatchPending || !impl_->called) {
        return;
    }
    impl_->dispatchPending = true;
    impl_->laterDispatch = impl_->runtime.after(Seconds(0), [this] { dispatch(); });
}

#else

struct GnomeShellTextInputSources::Impl {};

std::expected<std::unique_ptr<GnomeShellTextInputSources>, std::string>
GnomeShellTextInputSources::open(Runtime&, std::unique_ptr<TextInputSources>,
                                 std::chrono::milliseconds, const std::string&) {
    return std::unexpected("built without D-Bus support");
}
GnomeShellTextInputSources::GnomeShellTextInputSources(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl)) {}
GnomeShellTextInputSources::~GnomeShellTextInputSources() = default;
bool GnomeShellTextInputSources::extensionAnswers() const {
    return false;
}
std::vector<TextInputSource> GnomeShellTextInputSources::sources() {
    return {};
}
std::optional<TextInputSource> GnomeShellTextInputSources::currentKeyboardSource() {
    return std::nullopt;
}
std::optional<TextInputSource> GnomeShellTextInputSources::sourceWithID(std::string_view) {
    return std::nullopt;
}
SelectStatus GnomeShellTextInputSources::select(std::string_view) {
    return SelectStatus::failed;
}
void GnomeShellTextInputSources::dispatch() {}
void GnomeShellTextInputSources::dispatchLater() {}

#endif

}  // namespace tesvano::platform
