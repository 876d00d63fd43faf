#include "Platform/TextInput/GnomeShell/GnomeShellTextInputSources.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdint>
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

ExtensionOwnership extensionOwnership(dbus::Connection& bus) {
    ExtensionOwnership out;
    out.owner = bus.nameOwner(busName).value_or(std::string());
    if (!out.owner.empty()) {
        out.shellOwner = bus.nameOwner("org.gnome.Shell").value_or(std::string());
    }
    return out;
}

std::optional<std::string> extensionOwner(dbus::Connection& bus) {
    // Any program of the user could take the name before the shell does.
    auto ownership = extensionOwnership(bus);
    if (!ownership.isShell()) {
        return std::nullopt;
    }
    return std::move(ownership.owner);
}

std::optional<ExtensionInfo> extensionInfo(dbus::Connection& bus) {
    const dbus::Object extensions{"org.gnome.Shell", "/org/gnome/Shell",
                                  "org.gnome.Shell.Extensions"};
    const auto info =
        bus.call(extensions, dbus::Method{"GetExtensionInfo", "s", "a{sv}"}, extensionUUID);
    if (!info) {
        return std::nullopt;
    }
    sd_bus_message* reply = info->get();
    ExtensionInfo out;
    // An extension the shell does not know comes back as an empty dictionary; the shell sends
    // every number of it as a double.
    const auto number = [reply](std::optional<int>& into) {
        if (sd_bus_message_enter_container(reply, 'v', "d") > 0) {
            double value = 0;
            if (sd_bus_message_read(reply, "d", &value) > 0) {
                into = static_cast<int>(value);
            }
            sd_bus_message_exit_container(reply);
        } else {
            sd_bus_message_skip(reply, "v");
        }
    };
    if (sd_bus_message_enter_container(reply, 'a', "{sv}") > 0) {
        while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
            const char* key = nullptr;
            sd_bus_message_read(reply, "s", &key);
            const std::string name = key ? key : "";
            if (name == "state") {
                number(out.state);
            } else if (name == "version") {
                number(out.version);
            } else if (name == "error" && sd_bus_message_enter_container(reply, 'v', "s") > 0) {
                const char* text = nullptr;
                sd_bus_message_read(reply, "s", &text);
                out.error = text ? text : "";
                sd_bus_message_exit_container(reply);
            } else {
                sd_bus_message_skip(reply, "v");
            }
            sd_bus_message_exit_container(reply);
        }
    }
    return out;
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
    // A shell that starts holds the extension's name before its own.
    dbus::NameWatcher shellWatch{"org.gnome.Shell",
                                 [this](const std::string&) { ownerChanged = true; }};
    std::optional<dbus::BusLoop> loop;
    std::vector<Registration> fallbackChanges;
    bool answers = false;
    // The extension's unique name on the bus, once it is known to be the shell's.
    std::string owner;
    // The running extension's version, once the shell has said it.
    std::optional<int> extensionVersion;
    // While the shell does not say it yet: the next time it is asked, and how often it was.
    Registration versionCheck;
    int versionReads = 0;
    // A holder of the name that is not (yet) the shell, and the check that reports it if it
    // stays.
    std::string foreignOwner;
    Registration foreignOwnerCheck;
    std::optional<std::vector<TextInputSource>> cachedSources;
    std::optional<std::optional<std::string>> cachedCurrent;
    // The serial of the extension's message that `cachedCurrent` comes from: the shell numbers
    // its messages in the order it sends them, so an announcement older than a reply read
    // since says nothing new.
    std::uint64_t currentSerial = 0;
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

    // Remembers what the extension's message says is current, unless a later one was read.
    bool remember(sd_bus_message* message) {
        std::uint64_t serial = 0;
        sd_bus_message_get_cookie(message, &serial);
        if (serial != 0 && serial < currentSerial) {
            return false;
        }
        currentSerial = serial;
        cachedCurrent = readCurrent(message);
        return true;
    }

    // Asks the shell; none when it does not answer.
    std::optional<std::optional<std::string>> askCurrent() {
        const auto reply = call(gnome_shell::members::getCurrent);
        if (!reply) {
            cachedCurrent.reset();
            return std::nullopt;
        }
        // A reply is never older than what was read before it.
        remember(reply->get());
        return cachedCurrent.value_or(std::nullopt);
    }

    bool remembersCurrent() const {
        return extensionVersion.value_or(0) >= gnome_shell::announcesEveryChangeSince;
    }

    // A shell that has just started may hold the extension's name before it lists the
    // extension, or be too busy starting to answer: the version is asked again, a few times
    // and on the extension's announcements, until the shell says it. Meanwhile the current
    // source is asked for every time, as from an older extension.
    void readVersion() {
        versionCheck.cancel();
        const auto info = gnome_shell::extensionInfo(bus);
        if (info && (info->version || info->state == gnome_shell::extensionEnabled)) {
            extensionVersion = info->version.value_or(0);
            logger().debug("the shell runs version %d of the extension", *extensionVersion);
            if (!remembersCurrent()) {
                logger().info(
                    "the shell runs version %d of the extension, older than this program's %d; "
                    "asking it for the current source every time",
                    *extensionVersion, gnome_shell::announcesEveryChangeSince);
            }
            return;
        }
        if (++versionReads >= gnome_shell::versionAttempts) {
            logger().info(
                "the shell does not say which version of the extension it runs; asking it for "
                "the current source every time");
            return;
        }
        versionCheck = runtime.after(gnome_shell::versionRereadDelay * (1 << (versionReads - 1)),
                                     [this] { readVersion(); });
    }

    std::optional<std::string> currentID() {
        if (!answers) {
            return configuredCurrent();
        }
        if (!cachedCurrent || !remembersCurrent()) {
            return askCurrent().value_or(std::nullopt);
        }
        return *cachedCurrent;
    }

    void readOwner() {
        const auto ownership = gnome_shell::extensionOwnership(bus);
        owner = ownership.isShell() ? ownership.owner : std::string();
        answers = !owner.empty();
        currentSerial = 0;
        cachedCurrent.reset();
        extensionVersion.reset();
        versionCheck.cancel();
        versionReads = 0;
        if (answers) {
            readVersion();
        }
        watchForeignOwner(ownership);
    }

    // Reports a foreign holder of the name only when the shell's own name has not come to it
    // within the grace period: a shell that starts claims ours first.
    void watchForeignOwner(const gnome_shell::ExtensionOwnership& ownership) {
        if (!ownership.isForeign()) {
            foreignOwner.clear();
            foreignOwnerCheck = {};
            return;
        }
        if (ownership.owner == foreignOwner) {
            return;
        }
        foreignOwner = ownership.owner;
        logger().debug("%{public}s is held by %{public}s; waiting for GNOME Shell's name",
                       std::string(gnome_shell::busName), foreignOwner);
        foreignOwnerCheck = runtime.after(GnomeShellTextInputSources::foreignOwnerGrace, [this] {
            const auto now = gnome_shell::extensionOwnership(bus);
            if (now.isForeign() && now.owner == foreignOwner) {
                logger().error(
                    "%{public}s is held by %{public}s, which is not GNOME Shell; not using it",
                    std::string(gnome_shell::busName), foreignOwner);
            }
        });
    }

    // Follows the extension and the shell on the connection: the first one, and each one
    // opened again after the bus dropped the last.
    int attach() {
        int r =
            sd_bus_match_signal(bus.get(), sourceSignals.out(), nullptr, gnome_shell::objectPath,
                                gnome_shell::interfaceName, nullptr, &Impl::onSourceSignal, this);
        if (r >= 0) {
            r = ownerWatch.start(bus);
        }
        if (r >= 0) {
            r = shellWatch.start(bus);
        }
        return r;
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
            self->selectionChanged = self->remember(message) || self->selectionChanged;
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
    if (const int r = state->attach(); r < 0) {
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
    state->loop.emplace(
        runtime, state->bus, [self](int result) { self->settled(result); },
        [state] {
            // Who holds the extension's name is read once the loop has settled.
            const int r = state->attach();
            state->ownerChanged = r >= 0;
            return r;
        });
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
    // Confirmed by what the shell has current now, never assumed: another program's switch
    // may have come in between, and the shell announces the outcome only later. Its signal
    // tells the observers either way.
    const auto confirmed = impl_->askCurrent();
    if (!confirmed) {
        return SelectStatus::failed;
    }
    if (*confirmed != id) {
        logger().debug("the shell has %{public}s current after selecting %{public}s",
                       confirmed->value_or("nothing"), id);
        // Another program's switch: its announcement may be older than this reply and so be
        // passed over, and the observers must hear of it all the same.
        impl_->selectionChanged = true;
        impl_->loop->dispatchLater();
        return SelectStatus::failed;
    }
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
    const std::string formerOwner = impl_->owner;
    bool ownerRead = false;
    if (result < 0) {
        impl_->ownerChanged = true;
        impl_->answers = false;
        impl_->owner.clear();
    } else if (impl_->ownerChanged) {
        impl_->readOwner();
        ownerRead = true;
    }
    bool sourcesChanged = std::exchange(impl_->sourcesChanged, false);
    // The shell's name moving alone (while a shell starts) changes nothing yet.
    const bool ownerChanged =
        std::exchange(impl_->ownerChanged, false) && impl_->owner != formerOwner;
    // The extension announces each change once: an announcement is news even when it names
    // the source announced last (it changed and changed back in between).
    const bool announced = std::exchange(impl_->selectionChanged, false);
    if (impl_->answers && !impl_->extensionVersion && (announced || sourcesChanged) && !ownerRead &&
        impl_->versionReads < gnome_shell::versionAttempts) {
        // The extension speaks: the shell has loaded it by now.
        impl_->readVersion();
    }
    bool selectionChanged = false;
    if (ownerChanged) {
        logger().info("the shell's input sources %{public}s",
                      std::string(impl_->answers ? "answer" : "no longer answer"));
        sourcesChanged = true;
    }
    if (sourcesChanged) {
        impl_->cachedSources.reset();
        impl_->cachedCurrent.reset();
    }
    if (sourcesChanged || announced) {
        auto current = impl_->currentID();
        selectionChanged = announced || current != impl_->lastNotifiedCurrent;
        impl_->lastNotifiedCurrent = std::move(current);
    }
    impl_->lifetime.tell({
        {sourcesChanged, [this] { notifyEnabledSourcesChanged(); }},
        {selectionChanged, [this] { notifySelectionChanged(); }},
    });
}

}  // namespace tesvano::platform
