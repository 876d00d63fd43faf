#include "PermissionFlow/PermissionFlowResources.h"

#include <algorithm>
#include <cctype>

#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace PermissionFlow::PermissionFlowResources {

std::vector<std::string> localeCandidates(std::string_view localeIdentifier) {
    std::vector<std::string> out;
    if (localeIdentifier.empty()) {
        return out;
    }
    // "de_DE.UTF-8@euro": the encoding and modifier say nothing about the language.
    std::string id(localeIdentifier.substr(0, localeIdentifier.find_first_of(".@")));
    std::ranges::replace(id, '_', '-');
    auto add = [&out](std::string candidate) {
        if (!candidate.empty() && std::ranges::find(out, candidate) == out.end()) {
            out.push_back(std::move(candidate));
        }
    };
    add(id);
    const auto dash = id.find('-');
    const std::string language = id.substr(0, dash);
    if (dash != std::string::npos) {
        const auto rest = id.substr(dash + 1);
        const auto script = rest.substr(0, rest.find('-'));
        // A script subtag is four letters, the first one capital.
        if (script.size() == 4 && std::isupper(static_cast<unsigned char>(script[0]))) {
            add(language + "-" + script);
        }
    }
    add(language);
    return out;
}

std::string localizedString(std::string_view key, const std::optional<std::string>& defaultValue,
                            const std::optional<std::string>& localeIdentifier) {
    const auto language =
        localeIdentifier ? tesvano::Languages::firstSupported(localeCandidates(*localeIdentifier))
                         : tesvano::LanguageOverride::currentLanguage();
    auto text = tesvano::Localization::text(key, language);
    if (text == key) {
        return defaultValue.value_or(std::string(key));
    }
    return text;
}

}  // namespace PermissionFlow::PermissionFlowResources
