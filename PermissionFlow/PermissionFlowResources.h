#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "TesvanoKit/Languages/TextKey.h"

namespace PermissionFlow::PermissionFlowResources {

inline constexpr std::string_view accessibilityKey = N_("permission_flow.pane.accessibility");

// The text of `key` in the locale (none: the interface language), from the program's
// translation tables; the default (or the key) when no table has it.
std::string localizedString(std::string_view key,
                            const std::optional<std::string>& defaultValue = {},
                            const std::optional<std::string>& localeIdentifier = {});

// The forms of a locale identifier to match against the languages we have, most specific
// first: "zh_Hant_TW" gives "zh-Hant-TW", "zh-Hant", "zh". Empty for an empty identifier.
std::vector<std::string> localeCandidates(std::string_view localeIdentifier);

}  // namespace PermissionFlow::PermissionFlowResources
