#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano::AddressBarHeuristic {

// The markers browsers put on their address bar.
inline constexpr std::string_view chromiumIdentifier = "WEB_BROWSER_ADDRESS_AND_SEARCH_FIELD";
inline constexpr std::string_view geckoDOMIdentifier = "urlbar-input";
inline constexpr std::string_view chromiumOmniboxClass = "OmniboxViewViews";
inline constexpr std::string_view toolbarRole = "AXToolbar";
inline constexpr std::string_view webAreaRole = "AXWebArea";

// Whether a focused element is a browser's address bar: it must sit in a toolbar and not in a
// web page, and carry one of the three markers. Exact string comparisons throughout.
bool isAddressBar(const std::optional<std::string>& identifier,
                  const std::optional<std::string>& domIdentifier,
                  const std::vector<std::string>& domClassList,
                  const std::vector<std::string>& ancestorRoles);

}  // namespace tesvano::AddressBarHeuristic
