#include "Platform/TextInput/SessionTextInputSources.h"

#include <cstdlib>
#include <string_view>

#include "Platform/Log/Log.h"
#include "Platform/TextInput/CombinedTextInputSources.h"
#include "Platform/TextInput/Fcitx/FcitxTextInputSources.h"
#include "Platform/TextInput/GnomeShell/GnomeShellTextInputSources.h"
#include "Platform/TextInput/IBus/IBusTextInputSources.h"
#include "Platform/TextInput/Kde/KdeKeyboardLayouts.h"
#include "Platform/TextInput/Xkb/XkbTextInputSources.h"

namespace tesvano::platform {

namespace {

const Logger& logger() {
    static const Logger instance("TextInputSources");
    return instance;
}

// Whether the session tells applications to use IBus rather than Fcitx.
bool sessionPrefersIBus() {
    for (const char* name : {"XMODIFIERS", "QT_IM_MODULE", "GTK_IM_MODULE"}) {
        const char* value = std::getenv(name);
        if (value == nullptr) {
            continue;
        }
        const std::string_view text(value);
        if (text.find("fcitx") != std::string_view::npos) {
            return false;
        }
        if (text.find("ibus") != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

bool onGnome() {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return desktop != nullptr && gnome_shell::isGnomeDesktop(desktop);
}

}  // namespace

std::expected<std::unique_ptr<TextInputSources>, std::string> openSessionTextInputSources(
    Runtime& runtime, const std::string& displayName) {
    auto layouts = XkbTextInputSources::open(runtime, displayName);
    if (!layouts) {
        return std::unexpected(layouts.error());
    }
    using Backend = CombinedTextInputSources::Backend;
    using Role = CombinedTextInputSources::Role;
    std::vector<Backend> backends;
    if (onGnome()) {
        // The shell owns the layout groups and IBus: it sets both to its current source and
        // puts them back when anyone else changes them, so its sources are selected through
        // it. While our extension does not answer, the groups and IBus are only read.
        auto shell = GnomeShellTextInputSources::open(runtime, std::move(*layouts),
                                                      IBusTextInputSources::open());
        if (shell) {
            backends.push_back(Backend{std::move(*shell), Role::layouts});
        } else {
            logger().error("GNOME Shell's input sources are not followed: %{public}s",
                           shell.error());
            layouts = XkbTextInputSources::open(runtime, displayName);
            if (!layouts) {
                return std::unexpected(layouts.error());
            }
        }
    }
    if (backends.empty()) {
        // KDE's keyboard daemon remembers a layout per window only from what it selects.
        selectThroughKdeKeyboardWhenPresent(**layouts);
        backends.push_back(Backend{std::move(*layouts), Role::layouts});
        backends.push_back(Backend{IBusTextInputSources::open(), Role::framework});
    }
    if (auto fcitx = FcitxTextInputSources::open(runtime, sessionPrefersIBus())) {
        // Before IBus unless the session's applications are told to use IBus.
        auto at = sessionPrefersIBus() ? backends.end() : backends.begin() + 1;
        backends.insert(at, Backend{std::move(*fcitx), Role::framework});
    } else {
        logger().info("Fcitx 5 input methods are not followed: %{public}s", fcitx.error());
    }
    return std::make_unique<CombinedTextInputSources>(std::move(backends));
}

}  // namespace tesvano::platform
