#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano::AddressBarHeuristic {

// The markers browsers put on their address bar, as AT-SPI shows them (object attributes
// "id" and "class"; roles by their AT-SPI names). See Platform/Accessibility/AtspiVocabulary.h
// for where they were found.
inline constexpr std::string_view geckoDOMIdentifier = "urlbar-input";
inline constexpr std::string_view chromiumOmniboxClass = "OmniboxViewViews";
inline constexpr std::string_view toolbarRole = "tool bar";
inline constexpr std::string_view documentWebRole = "document web";

// Whether a focused element is a browser's address bar: it must sit in a tool bar and not in
// a web page, and carry one of the two markers. Exact string comparisons throughout.
bool isAddressBar(const std::optional<std::string>& domIdentifier,
                  const std::vector<std::string>& domClassList,
                  const std::vector<std::string>& ancestorRoles);

}  // namespace tesvano::AddressBarHeuristic
