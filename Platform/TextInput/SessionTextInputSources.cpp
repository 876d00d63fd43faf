#include "Platform/TextInput/SessionTextInputSources.h"

#include <cstdlib>

#include "Platform/TextInput/GnomeShellTextInputSources.h"
#include "Platform/TextInput/KdeKeyboardLayouts.h"
#include "Platform/TextInput/XkbTextInputSources.h"

namespace tesvano::platform {

std::expected<std::unique_ptr<TextInputSources>, std::string> openSessionTextInputSources(
    Runtime& runtime, const std::string& displayName) {
    auto groups = XkbTextInputSources::open(runtime, displayName);
    if (!groups) {
        return std::unexpected(groups.error());
    }
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    if (!desktop || !gnome_shell::isGnomeDesktop(desktop)) {
        // KDE's keyboard daemon remembers a layout per window only from what it selects.
        selectThroughKdeKeyboardWhenPresent(**groups);
        return std::move(*groups);
    }
    auto shell = GnomeShellTextInputSources::open(runtime, std::move(*groups));
    if (shell) {
        return std::move(*shell);
    }
    // No session bus: nothing to reach the shell with.
    auto plain = XkbTextInputSources::open(runtime, displayName);
    if (!plain) {
        return std::unexpected(plain.error());
    }
    return std::move(*plain);
}

}  // namespace tesvano::platform
