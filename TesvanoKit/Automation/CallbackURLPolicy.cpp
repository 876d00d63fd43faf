#include "TesvanoKit/Automation/CallbackURLPolicy.h"

#include "TesvanoKit/Rules/URLComponents.h"

namespace tesvano::CallbackURLPolicy {

const std::set<std::string, std::less<>>& deniedSchemes() {
    static const std::set<std::string, std::less<>> schemes{"file", "javascript", "data",
                                                            "vbscript"};
    return schemes;
}

const std::set<std::string, std::less<>>& ownURLSchemes() {
    static const std::set<std::string, std::less<>> schemes{std::string(appScheme)};
    return schemes;
}

std::optional<std::string> scheme(std::string_view url) {
    const auto components = URLComponents::split(url);
    if (!components || !components->scheme || components->scheme->empty()) {
        return std::nullopt;
    }
    return components->scheme;
}

bool isAllowed(std::string_view url, const std::set<std::string, std::less<>>& ownSchemes) {
    return isAllowedScheme(scheme(url), ownSchemes);
}

bool isAllowedScheme(const std::optional<std::string>& scheme,
                     const std::set<std::string, std::less<>>& ownSchemes) {
    if (!scheme || scheme->empty()) {
        return false;
    }
    // Schemes are ASCII by their grammar.
    std::string lowered = *scheme;
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return !deniedSchemes().contains(lowered) && !ownSchemes.contains(lowered) &&
           lowered != appScheme;
}

}  // namespace tesvano::CallbackURLPolicy
