#include "Platform/TextInput/IBus/IBusTextInputSources.h"

#include <ibus.h>
#include <libintl.h>

#include <algorithm>

#include "Platform/Log/Log.h"

namespace tesvano::platform {

namespace {

const Logger& logger() {
    static const Logger instance("IBus");
    return instance;
}

// libibus warns on standard error about what are ordinary states here: no address while IBus
// does not run, a connection that ends when it stops. Such lines go to our debug log; the
// program says itself when IBus comes or goes.
void routeLibraryMessages(const gchar*, GLogLevelFlags level, const gchar* message, gpointer) {
    if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) != 0) {
        logger().warning("libibus: %{public}s", message != nullptr ? message : "");
    } else {
        logger().debug("libibus: %{public}s", message != nullptr ? message : "");
    }
}

constexpr const char* kSettingsSchema = "org.freedesktop.ibus.general";
constexpr const char* kPreloadEnginesKey = "preload-engines";
// Switching may start the engine's process first; the global engine is set once it runs.
constexpr int kSelectTimeoutMilliseconds = 1500;
constexpr int kReadTimeout = 500;
constexpr std::string_view kLayoutEnginePrefix = "xkb:";

std::string sourceID(std::string_view engine) {
    return std::string(IBusTextInputSources::idPrefix) + std::string(engine);
}

std::optional<std::string> engineOf(std::string_view id) {
    if (!id.starts_with(IBusTextInputSources::idPrefix)) {
        return std::nullopt;
    }
    return std::string(id.substr(IBusTextInputSources::idPrefix.size()));
}

std::string text(const gchar* value) {
    return value != nullptr ? std::string(value) : std::string();
}

// The engine's long name, in the interface language when its text domain translates it.
TextInputSource convert(IBusEngineDesc* desc) {
    TextInputSource source;
    const std::string name = text(ibus_engine_desc_get_name(desc));
    source.id = sourceID(name);
    const std::string longName = text(ibus_engine_desc_get_longname(desc));
    const std::string domain = text(ibus_engine_desc_get_textdomain(desc));
    if (!longName.empty()) {
        source.localizedName =
            domain.empty() ? longName : std::string(dgettext(domain.c_str(), longName.c_str()));
    }
    if (const std::string language = text(ibus_engine_desc_get_language(desc)); !language.empty()) {
        source.languages = std::vector<std::string>{language};
    }
    return source;
}

}  // namespace

struct IBusTextInputSources::Impl {
    IBusBus* bus = nullptr;
    GSettings* settings = nullptr;
    IBusTextInputSources* owner = nullptr;
    std::optional<std::vector<TextInputSource>> cachedSources;
    // The global engine as IBus last announced it.
    std::optional<std::string> globalEngine;
    bool globalEngineKnown = false;
    // Whether the bus behind the address answers IBus's own calls; unknown until asked on
    // each connection. Another framework (Fcitx) may take over IBus's address with an
    // emulation for applications that has none of them.
    std::optional<bool> serves;
    bool announcedServing = false;

    ~Impl() {
        if (settings != nullptr) {
            g_signal_handlers_disconnect_by_data(settings, this);
            g_object_unref(settings);
        }
        if (bus != nullptr) {
            g_signal_handlers_disconnect_by_data(bus, this);
            g_object_unref(bus);
        }
    }

    bool connected() const { return ibus_bus_is_connected(bus) != FALSE; }

    bool serving() {
        if (!connected()) {
            return false;
        }
        if (!serves) {
            serves = answersCoreCalls();
            announce();
        }
        return *serves;
    }

    bool answersCoreCalls() const {
        GDBusConnection* connection = ibus_bus_get_connection(bus);
        if (connection == nullptr) {
            return false;
        }
        const gchar* none[] = {nullptr};
        GError* error = nullptr;
        GVariant* result = g_dbus_connection_call_sync(
            connection, IBUS_SERVICE_IBUS, IBUS_PATH_IBUS, IBUS_INTERFACE_IBUS, "GetEnginesByNames",
            g_variant_new("(^as)", none), nullptr, G_DBUS_CALL_FLAGS_NONE, kReadTimeout, nullptr,
            &error);
        if (result != nullptr) {
            g_variant_unref(result);
            return true;
        }
        // A daemon too busy to answer in time is still IBus.
        const bool busy = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
                          g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
                          g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY);
        if (!busy) {
            logger().info("IBus's address leads to a program that is not IBus (%{public}s)",
                          error != nullptr ? error->message : "no answer");
        }
        g_clear_error(&error);
        return busy;
    }

    // One line when IBus comes to serve the session, and one when it goes.
    void announce() {
        const bool now = connected() && serves.value_or(false);
        if (now != announcedServing) {
            announcedServing = now;
            logger().info(now ? "IBus is running; its engines are followed" : "IBus has stopped");
        }
    }

    // A call on IBus's own interface or its properties, without libibus's warnings for the
    // errors IBus answers in ordinary states (no focused context, no global engine yet).
    GVariant* call(const char* interface, const char* method, GVariant* parameters,
                   int timeoutMilliseconds) const {
        GDBusConnection* connection = ibus_bus_get_connection(bus);
        if (connection == nullptr) {
            g_variant_unref(g_variant_ref_sink(parameters));
            return nullptr;
        }
        GError* error = nullptr;
        GVariant* result = g_dbus_connection_call_sync(
            connection, IBUS_SERVICE_IBUS, IBUS_PATH_IBUS, interface, method, parameters, nullptr,
            G_DBUS_CALL_FLAGS_NONE, timeoutMilliseconds, nullptr, &error);
        g_clear_error(&error);
        return result;
    }

    std::vector<std::string> enabledEngines() const {
        std::vector<std::string> names;
        if (settings == nullptr) {
            return names;
        }
        gchar** values = g_settings_get_strv(settings, kPreloadEnginesKey);
        for (gchar** value = values; value != nullptr && *value != nullptr; ++value) {
            names.emplace_back(*value);
        }
        g_strfreev(values);
        return names;
    }

    std::vector<TextInputSource> readSources() {
        std::vector<TextInputSource> out;
        auto names = enabledEngines();
        if (names.empty()) {
            // Nothing configured: IBus still runs its global engine, which then is the one.
            if (auto engine = currentEngine()) {
                names.push_back(*engine);
            }
        }
        if (names.empty()) {
            return out;
        }
        std::vector<const gchar*> list;
        for (const auto& name : names) {
            list.push_back(name.c_str());
        }
        list.push_back(nullptr);
        IBusEngineDesc** descs = ibus_bus_get_engines_by_names(bus, list.data());
        for (IBusEngineDesc** desc = descs; desc != nullptr && *desc != nullptr; ++desc) {
            out.push_back(convert(*desc));
            g_object_unref(*desc);
        }
        g_free(descs);
        return out;
    }

    std::vector<TextInputSource> sources() {
        if (!serving()) {
            return {};
        }
        if (!cachedSources) {
            cachedSources = readSources();
        }
        return *cachedSources;
    }

    std::optional<TextInputSource> find(std::string_view id) { return findSource(sources(), id); }

    std::optional<std::string> currentEngine() {
        if (!serving()) {
            return std::nullopt;
        }
        if (!globalEngineKnown) {
            // Before any input context had the focus there is none: IBus answers with an
            // error, which libibus logs.
            globalEngine.reset();
            if (GVariant* result = call("org.freedesktop.DBus.Properties", "Get",
                                        g_variant_new("(ss)", IBUS_INTERFACE_IBUS, "GlobalEngine"),
                                        kReadTimeout)) {
                GVariant* boxed = nullptr;
                g_variant_get(result, "(v)", &boxed);
                GVariant* serialized = g_variant_get_variant(boxed);
                if (IBusSerializable* object = ibus_serializable_deserialize(serialized)) {
                    if (IBUS_IS_ENGINE_DESC(object)) {
                        globalEngine = text(ibus_engine_desc_get_name(IBUS_ENGINE_DESC(object)));
                    }
                    g_object_unref(object);
                }
                g_variant_unref(serialized);
                g_variant_unref(boxed);
                g_variant_unref(result);
            }
            globalEngineKnown = true;
        }
        return globalEngine;
    }

    void forget() {
        cachedSources.reset();
        globalEngine.reset();
        globalEngineKnown = false;
        serves.reset();
    }

    static void onConnected(IBusBus* bus, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        ibus_bus_set_watch_ibus_signal(bus, TRUE);
        self->forget();
        self->serving();
        self->owner->notifyEnabledSourcesChanged();
        self->owner->notifySelectionChanged();
    }

    static void onDisconnected(IBusBus*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->forget();
        self->announce();
        self->owner->notifyEnabledSourcesChanged();
        self->owner->notifySelectionChanged();
    }

    static void onGlobalEngineChanged(IBusBus*, const gchar* name, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->globalEngine = text(name);
        self->globalEngineKnown = true;
        self->owner->notifySelectionChanged();
    }

    static void onEnabledEnginesChanged(GSettings*, const gchar*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->cachedSources.reset();
        self->owner->notifyEnabledSourcesChanged();
    }

    bool setGlobalEngine(const std::string& engine, bool wait) {
        if (!wait) {
            GDBusConnection* connection = ibus_bus_get_connection(bus);
            if (connection == nullptr) {
                return false;
            }
            g_dbus_connection_call(
                connection, IBUS_SERVICE_IBUS, IBUS_PATH_IBUS, IBUS_INTERFACE_IBUS,
                "SetGlobalEngine", g_variant_new("(s)", engine.c_str()), nullptr,
                G_DBUS_CALL_FLAGS_NONE, kSelectTimeoutMilliseconds, nullptr, nullptr, nullptr);
            return true;
        }
        GVariant* result = call(IBUS_INTERFACE_IBUS, "SetGlobalEngine",
                                g_variant_new("(s)", engine.c_str()), kSelectTimeoutMilliseconds);
        if (result == nullptr) {
            return false;
        }
        g_variant_unref(result);
        return true;
    }
};

std::unique_ptr<IBusTextInputSources> IBusTextInputSources::open() {
    static const bool initialised = [] {
        g_log_set_handler("IBUS",
                          static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK & ~G_LOG_LEVEL_ERROR),
                          &routeLibraryMessages, nullptr);
        ibus_init();
        return true;
    }();
    (void)initialised;
    auto impl = std::make_unique<Impl>();
    impl->bus = ibus_bus_new_async();
    if (GSettingsSchemaSource* schemas = g_settings_schema_source_get_default()) {
        if (GSettingsSchema* schema =
                g_settings_schema_source_lookup(schemas, kSettingsSchema, TRUE)) {
            impl->settings = g_settings_new(kSettingsSchema);
            g_settings_schema_unref(schema);
        }
    }
    std::unique_ptr<IBusTextInputSources> sources(new IBusTextInputSources(std::move(impl)));
    Impl* state = sources->impl_.get();
    state->owner = sources.get();
    g_signal_connect(state->bus, "connected", G_CALLBACK(&Impl::onConnected), state);
    g_signal_connect(state->bus, "disconnected", G_CALLBACK(&Impl::onDisconnected), state);
    g_signal_connect(state->bus, "global-engine-changed", G_CALLBACK(&Impl::onGlobalEngineChanged),
                     state);
    ibus_bus_set_watch_ibus_signal(state->bus, TRUE);
    if (state->settings != nullptr) {
        const std::string signal = std::string("changed::") + kPreloadEnginesKey;
        g_signal_connect(state->settings, signal.c_str(),
                         G_CALLBACK(&Impl::onEnabledEnginesChanged), state);
    }
    return sources;
}

IBusTextInputSources::IBusTextInputSources(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

IBusTextInputSources::~IBusTextInputSources() = default;

std::vector<TextInputSource> IBusTextInputSources::sources() {
    return impl_->sources();
}

std::optional<TextInputSource> IBusTextInputSources::currentKeyboardSource() {
    const auto engine = impl_->currentEngine();
    if (!engine || engine->empty()) {
        return std::nullopt;
    }
    return listedOrBare(impl_->sources(), sourceID(*engine));
}

std::optional<TextInputSource> IBusTextInputSources::sourceWithID(std::string_view id) {
    return impl_->find(id);
}

SelectStatus IBusTextInputSources::select(const TextInputSource& source) {
    const std::string id = source.id.value_or("");
    const auto engine = engineOf(id);
    if (!engine || !impl_->find(id)) {
        return SelectStatus::unknownSource;
    }
    return impl_->setGlobalEngine(*engine, true) ? SelectStatus::ok : SelectStatus::failed;
}

bool IBusTextInputSources::isAvailable() {
    return impl_->serving();
}

bool IBusTextInputSources::managesKeyboardLayouts() {
    return std::ranges::any_of(impl_->sources(), [](const TextInputSource& source) {
        const auto engine = engineOf(source.id.value_or(""));
        return engine && engine->starts_with(kLayoutEnginePrefix);
    });
}

FocusedSelection IBusTextInputSources::selectInFocusedContext(const TextInputSource& source) {
    using Kind = FocusedSelectionFailure::Kind;
    const auto engine = engineOf(source.id.value_or(""));
    if (!impl_->serving() || !engine) {
        return std::unexpected(FocusedSelectionFailure{Kind::unavailable, 0});
    }
    // The switch goes first, so that IBus starts the engine while the focus is asked for: it
    // takes calls in order, and a switch without a focused context goes to its fallback
    // context, as the direct selection that follows a failure here does anyway.
    if (!impl_->setGlobalEngine(*engine, false)) {
        return std::unexpected(FocusedSelectionFailure{Kind::transport, 0});
    }
    // IBus answers with an error while no input context has the focus.
    GVariant* context = impl_->call(
        "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", IBUS_INTERFACE_IBUS, "CurrentInputContext"), kReadTimeout);
    if (context == nullptr) {
        return std::unexpected(FocusedSelectionFailure{Kind::noFocus, 0});
    }
    g_variant_unref(context);
    return {};
}

}  // namespace tesvano::platform
