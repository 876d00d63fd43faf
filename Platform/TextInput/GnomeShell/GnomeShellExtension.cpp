#include "Platform/TextInput/GnomeShell/GnomeShellExtension.h"

#include <gio/gio.h>
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gsettingsbackend.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include "Platform/DBus/SessionBus.h"
#include "Platform/TextInput/GnomeShell/GnomeShellExtensionFiles.h"
#include "Platform/TextInput/GnomeShell/GnomeShellTextInputSources.h"

namespace tesvano::platform {

namespace {

// The shell's ExtensionState values.
constexpr int kShellEnabled = 1;
constexpr int kShellError = 3;
constexpr int kShellOutOfDate = 4;

constexpr const char* kShellSchema = "org.gnome.shell";
constexpr const char* kEnabledKey = "enabled-extensions";
constexpr const char* kDisabledKey = "disabled-extensions";
constexpr const char* kUserExtensionsOffKey = "disable-user-extensions";

std::filesystem::path dataHome() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        return data;
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "") / ".local/share";
}

// Every folder the shell reads extensions from, the user's first.
std::vector<std::filesystem::path> extensionFolders() {
    std::vector<std::filesystem::path> out{SessionGnomeShellExtension::userFolder()};
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(':', start), list.size());
        if (end > start) {
            out.push_back(std::filesystem::path(list.substr(start, end - start)) /
                          "gnome-shell/extensions" / gnome_shell::extensionUUID);
        }
        start = end + 1;
    }
    return out;
}

// GNOME's shell settings; none where the schema is not installed (GSettings would abort).
GSettings* shellSettings() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) {
        return nullptr;
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kShellSchema, TRUE);
    if (!schema) {
        return nullptr;
    }
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    return settings;
}

bool listContains(GSettings* settings, const char* key) {
    gchar** values = g_settings_get_strv(settings, key);
    bool found = false;
    for (gchar** v = values; v && *v; ++v) {
        found = found || std::strcmp(*v, gnome_shell::extensionUUID) == 0;
    }
    g_strfreev(values);
    return found;
}

// The list without our extension, or with it added at the end.
bool changeList(GSettings* settings, const char* key, bool present) {
    gchar** values = g_settings_get_strv(settings, key);
    GPtrArray* out = g_ptr_array_new();
    for (gchar** v = values; v && *v; ++v) {
        if (std::strcmp(*v, gnome_shell::extensionUUID) != 0) {
            g_ptr_array_add(out, *v);
        }
    }
    if (present) {
        g_ptr_array_add(out, const_cast<char*>(gnome_shell::extensionUUID));
    }
    g_ptr_array_add(out, nullptr);
    const bool written =
        g_settings_set_strv(settings, key, reinterpret_cast<const gchar* const*>(out->pdata));
    g_ptr_array_free(out, TRUE);
    g_strfreev(values);
    return written;
}

}  // namespace

GnomeShellExtensionState classify(const GnomeShellExtensionFacts& facts) {
    using State = GnomeShellExtensionState;
    if (!facts.gnome) {
        return State::notGnome;
    }
    if (facts.answers) {
        return State::active;
    }
    if (facts.shellState == kShellError || facts.shellState == kShellOutOfDate) {
        return State::failed;
    }
    if (!facts.filesInstalled && !facts.shellState) {
        return State::notInstalled;
    }
    if (!facts.listedAsEnabled) {
        return State::disabled;
    }
    if (facts.userExtensionsDisabled) {
        return State::userExtensionsOff;
    }
    // Enabled and loaded, yet not on the bus: it did not start.
    if (facts.shellState == kShellEnabled) {
        return State::failed;
    }
    // A shell that knows the extension enables it as soon as it is listed; one that does not
    // reads its extension folders again only when it starts.
    return facts.shellState ? State::disabled : State::needsShellRestart;
}

const std::vector<std::pair<std::string, std::string>>& gnomeShellExtensionFiles() {
    static const std::vector<std::pair<std::string, std::string>> files{
        {"metadata.json", gnome_shell_extension_files::metadata},
        {"extension.js", gnome_shell_extension_files::extension},
        {"com.quorvel.Tesvano.ShellInputSources.xml", gnome_shell_extension_files::interface},
    };
    return files;
}

std::filesystem::path SessionGnomeShellExtension::userFolder() {
    return dataHome() / "gnome-shell/extensions" / gnome_shell::extensionUUID;
}

GnomeShellExtensionFacts SessionGnomeShellExtension::facts() {
    GnomeShellExtensionFacts facts;
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    facts.gnome = desktop && gnome_shell::isGnomeDesktop(desktop);
    if (!facts.gnome) {
        return facts;
    }
    std::error_code error;
    for (const auto& folder : extensionFolders()) {
        facts.filesInstalled = facts.filesInstalled ||
                               std::filesystem::is_regular_file(folder / "metadata.json", error);
    }
    if (GSettings* settings = shellSettings()) {
        facts.listedAsEnabled = listContains(settings, kEnabledKey);
        facts.userExtensionsDisabled = g_settings_get_boolean(settings, kUserExtensionsOffKey);
        g_object_unref(settings);
    }
    auto bus = dbus::Connection::open();
    if (!bus) {
        return facts;
    }
    facts.answers = gnome_shell::extensionOwner(*bus).has_value();
    if (auto info = gnome_shell::extensionInfo(*bus)) {
        facts.shellState = info->state;
        facts.shellError = std::move(info->error);
    }
    return facts;
}

std::shared_ptr<void> SessionGnomeShellExtension::watch(std::function<void()> changed) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) {
        return nullptr;
    }
    auto shared = std::make_shared<std::function<void()>>(std::move(changed));
    const auto callback =
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
            gpointer data) { (**static_cast<std::shared_ptr<std::function<void()>>*>(data))(); };
    const auto release =
        +[](gpointer data) { delete static_cast<std::shared_ptr<std::function<void()>>*>(data); };
    std::vector<guint> ids;
    ids.push_back(g_dbus_connection_signal_subscribe(
        bus, "org.gnome.Shell", "org.gnome.Shell.Extensions", "ExtensionStateChanged",
        "/org/gnome/Shell", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, callback,
        new std::shared_ptr<std::function<void()>>(shared), release));
    for (const char* name : {gnome_shell::busName, "org.gnome.Shell"}) {
        ids.push_back(g_dbus_connection_signal_subscribe(
            bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
            "/org/freedesktop/DBus", name, G_DBUS_SIGNAL_FLAGS_NONE, callback,
            new std::shared_ptr<std::function<void()>>(shared), release));
    }
    return std::shared_ptr<void>(nullptr, [bus, ids](void*) {
        for (const guint id : ids) {
            g_dbus_connection_signal_unsubscribe(bus, id);
        }
        g_object_unref(bus);
    });
}

std::expected<void, std::string> SessionGnomeShellExtension::installAndEnable() {
    // Written beside the final folder and renamed over it, so the shell never reads half a copy.
    const auto folder = userFolder();
    const auto staging =
        folder.parent_path() / std::string(".").append(folder.filename().string()).append(".new");
    std::error_code error;
    std::filesystem::remove_all(staging, error);
    std::filesystem::create_directories(staging, error);
    if (error) {
        return std::unexpected("cannot create " + staging.string() + ": " + error.message());
    }
    for (const auto& [name, content] : gnomeShellExtensionFiles()) {
        std::ofstream out(staging / name, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out) {
            std::filesystem::remove_all(staging, error);
            return std::unexpected("cannot write " + (staging / name).string());
        }
    }
    std::filesystem::remove_all(folder, error);
    std::filesystem::rename(staging, folder, error);
    if (error) {
        return std::unexpected("cannot install " + folder.string() + ": " + error.message());
    }
    GSettings* settings = shellSettings();
    if (!settings) {
        return std::unexpected(std::string("GNOME's settings (") + kShellSchema +
                               ") are not installed");
    }
    // Without dconf GLib keeps settings in this process's memory: the shell would never see
    // the extension enabled, and the next start of Tesvano neither.
    GSettingsBackend* backend = g_settings_backend_get_default();
    const bool inMemory =
        backend && std::strcmp(G_OBJECT_TYPE_NAME(backend), "GMemorySettingsBackend") == 0;
    if (backend) {
        g_object_unref(backend);
    }
    if (inMemory) {
        g_object_unref(settings);
        return std::unexpected(
            "GNOME's settings are kept in memory only, so the shell would not see the "
            "extension enabled: install dconf (dconf-gsettings-backend)");
    }
    const bool written =
        changeList(settings, kDisabledKey, false) && changeList(settings, kEnabledKey, true);
    g_settings_sync();
    g_object_unref(settings);
    if (!written) {
        return std::unexpected(std::string("cannot change ") + kShellSchema + " " + kEnabledKey);
    }
    // Read back once the settings service has written it: a service started for another home
    // folder (a session bus begun with other HOME or XDG_CONFIG_HOME than this program's) keeps
    // the change where neither the shell nor we read, and the extension would stay "not
    // enabled" after every click.
    GSettings* again = shellSettings();
    const bool kept = again && listContains(again, kEnabledKey);
    if (again) {
        g_object_unref(again);
    }
    if (!kept) {
        return std::unexpected(std::string("GNOME's settings did not keep the change of ") +
                               kShellSchema + " " + kEnabledKey +
                               ": their service (dconf) writes to another home folder than "
                               "this program reads; start Tesvano from the desktop session itself");
    }
    return {};
}

}  // namespace tesvano::platform
