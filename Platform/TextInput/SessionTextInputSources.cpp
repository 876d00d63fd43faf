#include "Platform/TextInput/SessionTextInputSources.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "Platform/Log/Log.h"
#include "Platform/TextInput/CombinedTextInputSources.h"
#include "Platform/TextInput/FcitxTextInputSources.h"
#include "Platform/TextInput/IBusTextInputSources.h"
#include "Platform/TextInput/XkbTextInputSources.h"

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

}  // namespace

std::expected<std::unique_ptr<TextInputSources>, std::string> openSessionTextInputSources(
    Runtime& runtime, const std::string& displayName) {
    auto layouts = XkbTextInputSources::open(runtime, displayName);
    if (!layouts) {
        return std::unexpected(layouts.error());
    }
    using Backend = CombinedTextInputSources::Backend;
    using Role = CombinedTextInputSources::Role;
    std::vector<Backend> frameworks;
#if TESVANO_HAVE_SYSTEMD
    if (auto fcitx = FcitxTextInputSources::open(runtime)) {
        frameworks.push_back(Backend{std::move(*fcitx), Role::framework});
    } else {
        logger().info("Fcitx 5 input methods are not followed: %{public}s", fcitx.error());
    }
#else
    logger().info("Fcitx 5 input methods are not followed: built without D-Bus support");
#endif
    frameworks.push_back(Backend{IBusTextInputSources::open(), Role::framework});
    if (sessionPrefersIBus()) {
        std::ranges::reverse(frameworks);
    }
    std::vector<Backend> backends;
    backends.push_back(Backend{std::move(*layouts), Role::layouts});
    for (auto& framework : frameworks) {
        backends.push_back(std::move(framework));
    }
    return std::make_unique<CombinedTextInputSources>(std::move(backends));
}

}  // namespace tesvano::platform
