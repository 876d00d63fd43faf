#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tesvano::BrowserBundleIDs {

using IDSet = std::set<std::string, std::less<>>;

// The browsers whose page URL and address bar the program can read, by family. Each set holds
// the macOS bundle identifiers and the Linux desktop-entry ids of the same browsers. Safari has
// no family set of its own and is only in `all`.
const IDSet& chromium();
const IDSet& gecko();
const IDSet& all();

// Exact, case-sensitive membership; a missing id is in no set.
bool isBrowser(std::optional<std::string_view> bundleID);
bool isChromium(std::optional<std::string_view> bundleID);
bool isGecko(std::optional<std::string_view> bundleID);

}  // namespace tesvano::BrowserBundleIDs
