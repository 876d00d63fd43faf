#include "TesvanoKit/Languages/Localization.h"

#include <array>
#include <mutex>
#include <string>
#include <unordered_map>

#include "TesvanoKit/Languages/Texts/Texts.h"

namespace tesvano {

namespace Localization {

namespace {

using Index = std::unordered_map<std::string_view, std::string_view>;

const Index& index(SupportedLanguage language) {
    // Built once, on first use, for all languages.
    static const std::array<Index, 9> indexes = [] {
        std::array<Index, 9> out;
        for (auto l : allCases<SupportedLanguage>()) {
            auto& target = out[static_cast<std::size_t>(l)];
            for (const auto& [key, value] : table(l))
                target.emplace(key, value);
        }
        return out;
    }();
    return indexes[static_cast<std::size_t>(language)];
}

}  // namespace

std::span<const Entry> table(SupportedLanguage language) {
    switch (language) {
        case SupportedLanguage::english:
            return texts::english();
        case SupportedLanguage::simplifiedChinese:
            return texts::simplifiedChinese();
        case SupportedLanguage::traditionalChinese:
            return texts::traditionalChinese();
        case SupportedLanguage::japanese:
            return texts::japanese();
        case SupportedLanguage::french:
            return texts::french();
        case SupportedLanguage::german:
            return texts::german();
        case SupportedLanguage::spanish:
            return texts::spanish();
        case SupportedLanguage::portuguese:
            return texts::portuguese();
        case SupportedLanguage::russian:
            return texts::russian();
    }
    return {};
}

std::string text(std::string_view key, SupportedLanguage language) {
    // A text not translated yet shows in English; a key no table knows shows as itself.
    for (auto l : {language, SupportedLanguage::english}) {
        const auto& entries = index(l);
        if (auto it = entries.find(key); it != entries.end()) {
            return std::string(it->second);
        }
    }
    return std::string(key);
}

}  // namespace Localization

namespace LanguageOverride {

namespace {
std::mutex& lock() {
    static std::mutex m;
    return m;
}
SupportedLanguage& stored() {
    static SupportedLanguage language = SupportedLanguage::english;
    return language;
}
}  // namespace

void apply(SupportedLanguage language) {
    std::lock_guard guard(lock());
    stored() = language;
}

SupportedLanguage currentLanguage() {
    std::lock_guard guard(lock());
    return stored();
}

std::string text(std::string_view key) {
    return Localization::text(key, currentLanguage());
}

}  // namespace LanguageOverride

}  // namespace tesvano
