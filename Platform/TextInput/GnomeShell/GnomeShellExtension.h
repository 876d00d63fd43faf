#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tesvano::platform {

// Where our GNOME Shell extension stands on this session, as the Permissions pane shows it.
enum class GnomeShellExtensionState {
    notGnome,           // not a GNOME session: nothing to do
    notInstalled,       // no copy of the extension where the shell looks for extensions
    disabled,           // installed, not enabled
    userExtensionsOff,  // enabled, but GNOME has every user extension switched off
    failed,             // the shell tried and could not run it (error or unsupported version)
    needsShellRestart,  // enabled; the running shell has not loaded it yet
    active,             // loaded: it answers on the session bus
};

// What the state is decided from.
struct GnomeShellExtensionFacts {
    bool gnome = false;
    // Our bus name has an owner: the extension runs.
    bool answers = false;
    // metadata.json of the extension under one of the shell's extension folders.
    bool filesInstalled = false;
    // The running shell's state for the extension (its ExtensionState numbers); none when the
    // shell does not know it (it reads its extension folders only when it starts) or cannot be
    // asked.
    std::optional<int> shellState;
    std::string shellError;
    // The extension is in org.gnome.shell enabled-extensions.
    bool listedAsEnabled = false;
    // org.gnome.shell disable-user-extensions.
    bool userExtensionsDisabled = false;
};

GnomeShellExtensionState classify(const GnomeShellExtensionFacts& facts);

// Our extension on this session: its state, and installing and enabling it for the user, which
// happens only when the user asks for it.
class GnomeShellExtension {
public:
    virtual ~GnomeShellExtension() = default;
    virtual GnomeShellExtensionFacts facts() = 0;
    // Copies the extension into the user's extension folder and enables it. A shell that
    // already knows the extension loads it at once; a newly installed one is loaded by the
    // next start of the shell.
    virtual std::expected<void, std::string> installAndEnable() = 0;
    // Calls `changed` on the main loop whenever the shell says an extension's state changed,
    // the shell restarts, or our extension's bus name changes hands; until the handle goes.
    virtual std::shared_ptr<void> watch(std::function<void()> changed) = 0;
};

// The files of the extension that this build carries: relative path and content.
const std::vector<std::pair<std::string, std::string>>& gnomeShellExtensionFiles();

// The real one: XDG_CURRENT_DESKTOP, the user's and the system's extension folders, the
// shell's org.gnome.Shell.Extensions interface and GNOME's settings.
class SessionGnomeShellExtension final : public GnomeShellExtension {
public:
    GnomeShellExtensionFacts facts() override;
    std::expected<void, std::string> installAndEnable() override;
    std::shared_ptr<void> watch(std::function<void()> changed) override;

    // $XDG_DATA_HOME/gnome-shell/extensions/<uuid> (default ~/.local/share/...).
    static std::filesystem::path userFolder();
};

}  // namespace tesvano::platform
