#pragma once

#include <array>
#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/DBus/Interface.h"
#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

namespace dbus {
class Connection;
}  // namespace dbus

// The names under which our GNOME Shell extension answers on the session bus.
namespace gnome_shell {

inline constexpr const char* extensionUUID = "tesvano@quorvel.com";
inline constexpr const char* busName = "com.quorvel.Tesvano.ShellInputSources";
inline constexpr const char* objectPath = "/com/quorvel/Tesvano/ShellInputSources";
inline constexpr const char* interfaceName = "com.quorvel.Tesvano.ShellInputSources";

// The extension's methods and the signals the client follows, with their signatures as the
// client's calls and reads use them.
namespace members {
inline constexpr dbus::Method getSources{"GetSources", "", "a(ssss)"};
inline constexpr dbus::Method getCurrent{"GetCurrent", "", "(ss)"};
inline constexpr dbus::Method activate{"Activate", "ss", "b"};
inline constexpr dbus::Signal sourcesChanged{"SourcesChanged", ""};
inline constexpr dbus::Signal currentSourceChanged{"CurrentSourceChanged", "(ss)"};
inline constexpr std::array calls{getSources, getCurrent, activate};
inline constexpr std::array followed{sourcesChanged, currentSourceChanged};
}  // namespace members

// A source as the shell names it: its type ("xkb" or "ibus") and its id within that type
// ("us", "de+nodeadkeys", "anthy").
struct ShellSource {
    std::string type;
    std::string id;
    bool operator==(const ShellSource&) const = default;
};

// Our id for a shell source, the same as the other backends give it: "xkb:us",
// "xkb:de(nodeadkeys)", "ibus:anthy"; another type keeps its id after "<type>:".
std::string sourceID(const ShellSource& source);
// The shell source behind one of our ids; none for an id no shell source can have.
std::optional<ShellSource> shellSource(std::string_view sourceID);

// Whether XDG_CURRENT_DESKTOP (a colon-separated list) names GNOME.
bool isGnomeDesktop(std::string_view currentDesktop);

// Who holds our extension's name and GNOME Shell's own, as the bus says now (unique names;
// empty for none).
struct ExtensionOwnership {
    std::string owner;
    std::string shellOwner;
    // GNOME Shell holds the name (it also owns org.gnome.Shell).
    bool isShell() const { return !owner.empty() && owner == shellOwner; }
    // Another program holds it, or a shell that is starting and does not own its own name yet.
    bool isForeign() const { return !owner.empty() && owner != shellOwner; }
};
ExtensionOwnership extensionOwnership(dbus::Connection& bus);
// The unique bus name that holds our extension's name, when GNOME Shell holds it; none when
// nobody or another program holds it.
std::optional<std::string> extensionOwner(dbus::Connection& bus);

// What the running shell says of our extension (org.gnome.Shell.Extensions GetExtensionInfo).
struct ExtensionInfo {
    // Its ExtensionState number; none when the shell does not know the extension.
    std::optional<int> state;
    std::string error;
    // The "version" of its metadata; none when it carries none.
    std::optional<int> version;
};
std::optional<ExtensionInfo> extensionInfo(dbus::Connection& bus);

// The first version of the extension that announces every change of the current source;
// an older one drops a change that ends where the last announced one did, so what it last
// said is no basis for remembering the current source.
inline constexpr int announcesEveryChangeSince = 2;

// ExtensionState's number for an extension that runs.
inline constexpr int extensionEnabled = 1;
// How often a version the shell does not say yet is asked for (first after the delay, then
// twice as long each time), and on the extension's announcements meanwhile.
inline constexpr int versionAttempts = 6;
inline constexpr std::chrono::milliseconds versionRereadDelay{500};

}  // namespace gnome_shell

// GNOME Shell's own input sources, through our shell extension on the session bus. The shell
// keeps the X server's layout group in line with its current source and puts it back at once
// when another program changes it, so on GNOME sources are read, observed and selected
// through the shell.
//
// While the extension does not answer (not installed, disabled, or enabled but not yet loaded
// by the shell), the sources are GNOME's settings' (org.gnome.desktop.input-sources sources),
// the current one is the shell's IBus engine when that is one of them, else the layout group
// the shell locked (`layouts`), and nothing can be selected: the shell would undo any
// selection within milliseconds. When the extension appears (after a restart of the shell)
// or goes, both notifications are sent. Only the shell is listened to under the extension's
// name: a name held by another program counts as no extension. A shell that starts claims the
// extension's name before its own; the owner is judged again once the shell's name moves,
// and only a holder that stays foreign for `foreignOwnerGrace` is reported.
//
// A selection is confirmed from the shell: `select` answers ok only when the shell reports the
// source current after it. The current source is remembered between the shell's
// announcements only from an extension that announces every change.
//
// Keeps a session-bus connection of its own, watched on the runtime's main loop.
class GnomeShellTextInputSources final : public TextInputSources {
public:
    // Fails with a readable reason only when there is no session bus. `timeout` bounds each
    // call to the shell: longer than other services get, as the shell answers from the loop
    // that also draws the screen, which may be held up for more than a second.
    static constexpr std::chrono::seconds foreignOwnerGrace{10};

    static std::expected<std::unique_ptr<GnomeShellTextInputSources>, std::string> open(
        Runtime& runtime, std::unique_ptr<TextInputSources> layouts,
        std::unique_ptr<TextInputSources> ibus,
        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000),
        const std::string& busAddress = {});
    ~GnomeShellTextInputSources() override;
    GnomeShellTextInputSources(const GnomeShellTextInputSources&) = delete;
    GnomeShellTextInputSources& operator=(const GnomeShellTextInputSources&) = delete;

    // Whether the extension answers now.
    bool extensionAnswers() const;

    std::vector<TextInputSource> sources() override;
    std::optional<TextInputSource> currentKeyboardSource() override;
    std::optional<TextInputSource> sourceWithID(std::string_view id) override;
    // Asks the shell to make the source current, and answers ok once the shell reports it
    // current. `failed` while the extension does not answer, and when the shell reports
    // another source afterwards (another program switched in between).
    SelectStatus select(const TextInputSource& source) override;
    // Only while the extension answers.
    bool canSelect(const TextInputSource& source) override;

private:
    struct Impl;
    explicit GnomeShellTextInputSources(std::unique_ptr<Impl> impl);
    void settled(int result);
    void configuredSourcesChanged();

    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano::platform
