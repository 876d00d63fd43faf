#pragma once

#include <expected>
#include <memory>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

// This session's input sources: the X server's layout groups of `displayName` (empty:
// $DISPLAY), IBus and Fcitx 5, combined. The frameworks are optional and followed while they
// start and stop; the framework the session's applications are told to use (XMODIFIERS,
// GTK_IM_MODULE, QT_IM_MODULE) is preferred when both run. Fails only when the display
// cannot be used.
std::expected<std::unique_ptr<TextInputSources>, std::string> openSessionTextInputSources(
    Runtime& runtime, const std::string& displayName = {});

}  // namespace tesvano::platform
