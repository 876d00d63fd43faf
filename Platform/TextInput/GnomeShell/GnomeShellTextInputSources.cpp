#include "Platform/TextInput/GnomeShell/GnomeShellTextInputSources.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstring>
#include <ranges>
#include <utility>

#include "Platform/DBus/SessionBus.h"
#include "Platform/Log/Log.h"
#include "Platform/TextInput/Xkb/XkbLayoutRegistry.h"

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

constexpr const char* kInputSourcesSchema = "org.gnome.desktop.input-sources";
constexpr const char* kSourcesKey = "sources";

}  // namespace

namespace gnome_shell {

std::optional<std::string> extensionOwner(dbus::Connection& bus) {
    auto owner = bus.nameOwner(busName);
    if (!owner) {
        return std::nullopt;
    }
    // Any program of the user could take the name before the shell does.
    if (bus.nameOwner("org.gnome.Shell") != owner) {
        logger().error("%{public}s is held by %{public}s, which is not GNOME Shell; not using it",
                       std::string(busName), *owner);
        return std::nullopt;
    }
    return owner;
}

}  // namespace gnome_shell

struct GnomeShellTextInputSources::Impl {
    Runtime& runtime;
    dbus::Connection bus;
    // What the shell sets while the extension does not answer: the layout groups and its IBus.
    std::unique_ptr<TextInputSources> layouts;
    std::unique_ptr<TextInputSources> ibus;
    GSettings* shellSettings = nullptr;
    dbus::Slot sourceSignals;
    // Who holds the name is checked once the bus is done with the dispatch that told it.
    dbus::NameWatcher ownerWatch{gnome_shell::busName,
                                 [this](const std::string&) { ownerChanged = true; }};
    std::optional<dbus::BusLoop> loop;
    std::vector<Registration> fallbackChanges;
    bool answers = false;
    // The extension's unique name on the bus, once it is known to be the shell's.
    std::string owner;
    std::optional<std::vector<TextInputSource>> cachedSources;
    std::optional<std::optional<std::string>> cachedCurrent;
    std::optional<std::string> lastNotifiedCurrent;
    // What the signals of one dispatch said, acted on once the bus is done with them.
    bool ownerChanged = false;
    bool sourcesChanged = false;
    bool selectionChanged = false;
    std::optional<XkbLayoutRegistry> registry;
    dbus::Lifetime lifetime;

    Impl(Runtime& rt, dbus::Connection b, std::unique_ptr<TextInputSources> l,
         std::unique_ptr<TextInputSources> i)
        : runtime(rt), bus(std::move(b)), layouts(std::move(l)), ibus(std::move(i)) {
        if (GSettingsSchemaSource* schemas = g_settings_schema_source_get_default()) {
            if (GSettingsSchema* schema =
                    g_settings_schema_source_lookup(schemas, kInputSourcesSchema, TRUE)) {
                shellSettings = g_settings_new(kInputSourcesSchema);
                g_settings_schema_unref(schema);
            }
        }
    }
    ~Impl() {
        if (shellSettings) {
            g_signal_handlers_disconnect_matched(shellSettings, G_SIGNAL_MATCH_DATA, 0, 0, nullptr,
                                                 nullptr, this);
            g_object_unref(shellSettings);
        }
    }

    // Calls a method of the extension; the reply, or none with the reason logged.
    template <typename... Arguments>
    std::optional<dbus::Reply> call(const dbus::Method& method, Arguments... arguments) {
        const dbus::Object extension{owner.c_str(), gnome_shell::objectPath,
                                     gnome_shell::interfaceName};
        auto reply = bus.call(extension, method, arguments...);
        if (!reply) {
            logger().info("the shell's %{public}s failed: %{public}s", std::string(method.name),
                          reply.error().message);
            return std::nullopt;
        }
        return std::move(*reply);
    }

    const XkbLayoutRegistry::Entry* registryEntry(const gnome_shell::ShellSource& source) {
        if (source.type != "xkb") {
            return nullptr;
        }
        if (!registry) {
            registry.emplace("evdev");
        }
        const auto plus = source.id.find('+');
        const std::string layout = source.id.substr(0, plus);
        const std::string variant =
            plus == std::string::npos ? std::string() : source.id.substr(plus + 1);
        return registry->find(layout, variant);
    }

    std::vector<std::string> languagesOf(const gnome_shell::ShellSource& source) {
        const auto* entry = registryEntry(source);
        return entry ? entry->languages : std::vector<std::string>{};
    }

    // A source of GNOME's settings, named as the layout registry or IBus names it.
    TextInputSource describe(const gnome_shell::ShellSource& shell) {
        TextInputSource source;
        source.id = gnome_shell::sourceID(shell);
        if (const auto* entry = registryEntry(shell)) {
            source.localizedName = entry->description;
            source.languages = entry->languages;
        } else if (ibus) {
            if (auto engine = ibus->sourceWithID(*source.id)) {
                source.localizedName = engine->localizedName;
                source.languages = engine->languages;
            }
        }
        return source;
    }

    // The shell's sources as GNOME's settings keep them; the layout groups when none are set
    // (the shell then uses the system's default layout).
    std::vector<TextInputSource> configuredSources() {
        std::vector<TextInputSource> out;
        if (shellSettings) {
            GVariant* value = g_settings_get_value(shellSettings, kSourcesKey);
            if (g_variant_is_of_type(value, G_VARIANT_TYPE("a(ss)"))) {
                GVariantIter iter;
                g_variant_iter_init(&iter, value);
                const gchar* type = nullptr;
                const gchar* id = nullptr;
                while (g_variant_iter_next(&iter, "(&s&s)", &type, &id)) {
                    out.push_back(describe({type, id}));
                }
            }
            g_variant_unref(value);
        }
        if (out.empty() && layouts) {
            return layouts->sources();
        }
        return out;
    }

    // Without the extension: the shell's IBus engine when it is one of the shell's sources
    // (for a layout source the shell runs IBus's plain "xkb:us::eng"), else the layout group
    // the shell has locked.
    std::optional<std::string> configuredCurrent() {
        const auto listed = configuredSources();
        const auto isListed = [&listed](const std::optional<TextInputSource>& source) {
            return source && source->id &&
                   std::ranges::find(listed, source->id, &TextInputSource::id) != listed.end();
        };
        for (TextInputSources* backend : {ibus.get(), layouts.get()}) {
            if (!backend) {
                continue;
            }
            if (auto current = backend->currentKeyboardSource(); isListed(current)) {
                return current->id;
            }
        }
        return std::nullopt;
    }

    std::optional<std::vector<TextInputSource>> readSources() {
        const auto message = call(gnome_shell::members::getSources);
        if (!message) {
            return std::nullopt;
        }
        sd_bus_message* reply = message->get();
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
            if (*name) {
                source.localizedName = std::string(name);
            }
            if (auto languages = languagesOf(shell); !languages.empty()) {
                source.languages = std::move(languages);
            }
            out.push_back(std::move(source));
        }
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
            return configuredSources();
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
            return configuredCurrent();
        }
        if (!cachedCurrent) {
            const auto reply = call(gnome_shell::members::getCurrent);
            if (!reply) {
                return std::nullopt;
            }
            cachedCurrent = readCurrent(reply->get());
        }
        return *cachedCurrent;
    }

    void readOwner() {
        owner = gnome_shell::extensionOwner(bus).value_or("");
        answers = !owner.empty();
    }

    static bool is(sd_bus_message* message, const dbus::Signal& signal) {
        return sd_bus_message_is_signal(message, gnome_shell::interfaceName, signal.name) > 0 &&
               sd_bus_message_has_signature(message, signal.signature) > 0;
    }

    static int onSourceSignal(sd_bus_message* message, void* data, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        const char* sender = sd_bus_message_get_sender(message);
        if (self->owner.empty() || !sender || self->owner != sender) {
            return 0;
        }
        if (is(message, gnome_shell::members::sourcesChanged)) {
            self->sourcesChanged = true;
        } else if (is(message, gnome_shell::members::currentSourceChanged)) {
            self->cachedCurrent = readCurrent(message);
            self->selectionChanged = true;
        }
        return 0;
    }
};

std::expected<std::unique_ptr<GnomeShellTextInputSources>, std::string>
GnomeShellTextInputSources::open(Runtime& runtime, std::unique_ptr<TextInputSources> layouts,
                                 std::unique_ptr<TextInputSources> ibus,
                                 std::chrono::milliseconds timeout, const std::string& busAddress) {
    auto bus = dbus::Connection::open(busAddress, dbus::CallOptions{timeout});
    if (!bus) {
        return std::unexpected(bus.error());
    }
    auto impl =
        std::make_unique<Impl>(runtime, std::move(*bus), std::move(layouts), std::move(ibus));
    Impl* state = impl.get();
    int r = sd_bus_match_signal(state->bus.get(), state->sourceSignals.out(), nullptr,
                                gnome_shell::objectPath, gnome_shell::interfaceName, nullptr,
                                &Impl::onSourceSignal, state);
    if (r >= 0) {
        r = state->ownerWatch.start(state->bus);
    }
    if (r < 0) {
        return std::unexpected(std::string("cannot follow the shell's input sources: ") +
                               std::strerror(-r));
    }
    state->readOwner();
    logger().info("the shell's input sources %{public}s",
                  std::string(state->answers ? "answer" : "do not answer; not selecting"));
    std::unique_ptr<GnomeShellTextInputSources> sources(
        new GnomeShellTextInputSources(std::move(impl)));
    GnomeShellTextInputSources* self = sources.get();
    state->lastNotifiedCurrent = state->currentID();
    state->loop.emplace(runtime, state->bus, [self](int result) { self->settled(result); });
    for (TextInputSources* f : {state->layouts.get(), state->ibus.get()}) {
        if (!f) {
            continue;
        }
        state->fallbackChanges.push_back(f->onSelectionChanged([self] {
            if (!self->impl_->answers) {
                self->impl_->lastNotifiedCurrent = self->impl_->currentID();
                self->notifySelectionChanged();
            }
        }));
        state->fallbackChanges.push_back(
            f->onEnabledSourcesChanged([self] { self->configuredSourcesChanged(); }));
    }
    if (GSettings* settings = state->shellSettings) {
        g_signal_connect_swapped(settings, "changed::sources",
                                 G_CALLBACK(+[](GnomeShellTextInputSources* owner) {
                                     owner->configuredSourcesChanged();
                                 }),
                                 self);
    }
    // Whatever arrived while we asked for the first state.
    state->loop->dispatchLater();
    return sources;
}

GnomeShellTextInputSources::GnomeShellTextInputSources(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl)) {}

GnomeShellTextInputSources::~GnomeShellTextInputSources() = default;

bool GnomeShellTextInputSources::extensionAnswers() const {
    return impl_->answers;
}

std::vector<TextInputSource> GnomeShellTextInputSources::sources() {
    return impl_->sources();
}

std::optional<TextInputSource> GnomeShellTextInputSources::currentKeyboardSource() {
    const auto id = impl_->currentID();
    return id ? sourceWithID(*id) : std::nullopt;
}

std::optional<TextInputSource> GnomeShellTextInputSources::sourceWithID(std::string_view id) {
    for (auto& source : impl_->sources()) {
        if (source.id == id) {
            return std::move(source);
        }
    }
    return std::nullopt;
}

SelectStatus GnomeShellTextInputSources::select(const TextInputSource& source) {
    const std::string id = source.id.value_or("");
    if (!impl_->answers) {
        return SelectStatus::failed;
    }
    const auto shell = gnome_shell::shellSource(id);
    if (!shell || !sourceWithID(id)) {
        return SelectStatus::unknownSource;
    }
    const auto reply =
        impl_->call(gnome_shell::members::activate, shell->type.c_str(), shell->id.c_str());
    if (!reply) {
        return SelectStatus::failed;
    }
    int found = 0;
    sd_bus_message_read(reply->get(), "b", &found);
    if (!found) {
        impl_->cachedSources.reset();
        return SelectStatus::unknownSource;
    }
    // The shell switched before it replied; its signal says so to the observers.
    impl_->cachedCurrent = id;
    return SelectStatus::ok;
}

void GnomeShellTextInputSources::configuredSourcesChanged() {
    if (!impl_->answers) {
        notifyEnabledSourcesChanged();
    }
}

bool GnomeShellTextInputSources::canSelect(const TextInputSource&) {
    return impl_->answers;
}

void GnomeShellTextInputSources::settled(int result) {
    if (result < 0) {
        impl_->ownerChanged = impl_->answers;
        impl_->answers = false;
        impl_->owner.clear();
    } else if (impl_->ownerChanged) {
        impl_->readOwner();
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
    impl_->lifetime.tell({
        {sourcesChanged, [this] { notifyEnabledSourcesChanged(); }},
        {selectionChanged, [this] { notifySelectionChanged(); }},
    });
}

}  // namespace tesvano::platform
