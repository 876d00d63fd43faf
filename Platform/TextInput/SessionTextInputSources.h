#pragma once

#include <expected>
#include <memory>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

// This session's input sources. Fails only when the display cannot be used or, on GNOME,
// when there is no session bus.
//   - Elsewhere than on GNOME: the X server's layout groups of `displayName` (empty:
//     $DISPLAY), selected through KDE's keyboard daemon when it is on the session bus, with
//     IBus and Fcitx 5 combined. The frameworks are optional and followed while they start
//     and stop; the framework the session's applications are told to use (XMODIFIERS,
//     GTK_IM_MODULE, QT_IM_MODULE) is preferred when both run.
//   - On GNOME (XDG_CURRENT_DESKTOP names it): the shell's own sources (its layouts and its
//     IBus engines) through our shell extension, with the layout groups and IBus only read
//     while the extension does not answer; Fcitx 5 as elsewhere.
std::expected<std::unique_ptr<TextInputSources>, std::string> openSessionTextInputSources(
    Runtime& runtime, const std::string& displayName = {});

}  // namespace tesvano::platform
