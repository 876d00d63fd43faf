#include "TesvanoKit/Monitors/AddressBarHeuristic.h"

#include <algorithm>

namespace tesvano::AddressBarHeuristic {

bool isAddressBar(const std::optional<std::string>& domIdentifier,
                  const std::vector<std::string>& domClassList,
                  const std::vector<std::string>& ancestorRoles) {
    const auto hasRole = [&](std::string_view role) {
        return std::ranges::find(ancestorRoles, role) != ancestorRoles.end();
    };
    // A text field inside a page is never the address bar, whatever it calls itself.
    if (!hasRole(toolbarRole) || hasRole(documentWebRole)) {
        return false;
    }
    if (domIdentifier == geckoDOMIdentifier) {
        return true;
    }
    return std::ranges::find(domClassList, chromiumOmniboxClass) != domClassList.end();
}

}  // namespace tesvano::AddressBarHeuristic
