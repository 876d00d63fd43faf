#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tesvano {

// The update channel the user chose; stored as the Boolean "usesBetaChannel".
enum class UpdateChannel { stable, beta };

inline constexpr std::array<UpdateChannel, 2> allUpdateChannels = {UpdateChannel::stable,
                                                                   UpdateChannel::beta};
inline constexpr const char* usesBetaChannelKey = "usesBetaChannel";

inline std::string_view rawValue(UpdateChannel channel) {
    return channel == UpdateChannel::beta ? "beta" : "stable";
}
// Exactly "stable" or "beta"; anything else (other letter case included) is no channel.
inline std::optional<UpdateChannel> updateChannel(std::string_view raw) {
    if (raw == "stable") {
        return UpdateChannel::stable;
    }
    if (raw == "beta") {
        return UpdateChannel::beta;
    }
    return std::nullopt;
}
inline UpdateChannel updateChannelForFlag(bool usesBeta) {
    return usesBeta ? UpdateChannel::beta : UpdateChannel::stable;
}
// The feed channels the updater may offer on this channel: none named, or "beta".
inline std::set<std::string> allowedChannels(UpdateChannel channel) {
    return channel == UpdateChannel::beta ? std::set<std::string>{"beta"} : std::set<std::string>{};
}

}  // namespace tesvano
