#pragma once

#include <expected>
#include <memory>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

// The input sources of this session's desktop. On GNOME (XDG_CURRENT_DESKTOP names it) the
// shell's own, through our shell extension, with the X server's groups shown read-only while
// the extension does not answer; elsewhere the X server's keyboard groups on `displayName`
// (empty: $DISPLAY), selected through KDE's keyboard daemon when it is on the session bus.
std::expected<std::unique_ptr<TextInputSources>, std::string> openSessionTextInputSources(
    Runtime& runtime, const std::string& displayName = {});

}  // namespace tesvano::platform
