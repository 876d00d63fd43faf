#include "TesvanoKit/Languages/Localization.h"

#include <array>
#include <mutex>
#include <optional>
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

namespace {

// The two UTF-8 bytes of a capital letter of the Russian alphabet, as those of its small
// letter; none for anything else.
std::optional<std::array<char, 2>> smallCyrillic(unsigned char lead, unsigned char trail) {
    if (lead != 0xD0) {
        return std::nullopt;
    }
    if (trail == 0x81) {  // Ё
        return std::array<char, 2>{char(0xD1), char(0x91)};
    }
    if (trail >= 0x90 && trail <= 0x9F) {  // А-П
        return std::array<char, 2>{char(0xD0), char(trail + 0x20)};
    }
    if (trail >= 0xA0 && trail <= 0xAF) {  // Р-Я
        return std::array<char, 2>{char(0xD1), char(trail - 0x20)};
    }
    return std::nullopt;
}

bool isSmallCyrillic(unsigned char lead, unsigned char trail) {
    return (lead == 0xD0 && trail >= 0xB0 && trail <= 0xBF) ||
           (lead == 0xD1 && ((trail >= 0x80 && trail <= 0x8F) || trail == 0x91));
}

std::string nameAfterColon(std::string_view name) {
    // A word, not an abbreviation or a single letter: a capital followed by a small letter.
    if (name.size() < 4 || !isSmallCyrillic(static_cast<unsigned char>(name[2]),
                                            static_cast<unsigned char>(name[3]))) {
        return std::string(name);
    }
    const auto small =
        smallCyrillic(static_cast<unsigned char>(name[0]), static_cast<unsigned char>(name[1]));
    if (!small) {
        return std::string(name);
    }
    std::string out(name);
    out[0] = (*small)[0];
    out[1] = (*small)[1];
    return out;
}

}  // namespace

std::string withName(std::string_view key, std::string_view name, SupportedLanguage language) {
    std::string out = text(key, language);
    constexpr std::string_view marker = "%@";
    const auto at = out.find(marker);
    if (at == std::string::npos) {
        return out;
    }
    const bool afterColon = at >= 2 && std::string_view(out).substr(at - 2, 2) == ": ";
    const std::string shown = language == SupportedLanguage::russian && afterColon
                                  ? nameAfterColon(name)
                                  : std::string(name);
    out.replace(at, marker.size(), shown);
    return out;
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
