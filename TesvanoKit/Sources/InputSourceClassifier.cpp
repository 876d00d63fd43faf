#include "TesvanoKit/Sources/InputSourceClassifier.h"

#include <set>
#include <string_view>

namespace tesvano::InputSourceClassifier {

bool isCJKV(const std::vector<std::string>& languages) {
    static const std::set<std::string, std::less<>> kPrimaryTags = {"zh", "ja", "ko", "vi", "yue"};
    for (const auto& tag : languages) {
        // BCP 47 ("zh-Hant") and POSIX locales ("zh_TW", "zh_CN.UTF-8", "sr@latin") alike:
        // frameworks report either.
        std::string primary = tag.substr(0, tag.find_first_of("-_.@"));
        for (char& c : primary) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        if (kPrimaryTags.contains(primary)) {
            return true;
        }
    }
    return false;
}

}  // namespace tesvano::InputSourceClassifier
