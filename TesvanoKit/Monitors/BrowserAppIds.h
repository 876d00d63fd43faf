#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tesvano::BrowserAppIds {

using IDSet = std::set<std::string, std::less<>>;

// The browsers whose page URL and address bar the program can read, by family, as the
// desktop-entry ids of their packages (distribution, vendor, Flatpak and Snap); `all` is both.
const IDSet& chromium();
const IDSet& gecko();
const IDSet& all();

// Exact, case-sensitive membership; a missing id is in no set.
bool isBrowser(std::optional<std::string_view> appId);
bool isChromium(std::optional<std::string_view> appId);
bool isGecko(std::optional<std::string_view> appId);

}  // namespace tesvano::BrowserAppIds
