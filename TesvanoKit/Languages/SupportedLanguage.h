#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Defaults/Defaults.h"
#include "TesvanoKit/Rules/EnumCoding.h"

namespace tesvano {

// The interface languages, in the order every list of them uses.
enum class SupportedLanguage {
    english,
    simplifiedChinese,
    traditionalChinese,
    japanese,
    french,
    german,
    spanish,
    portuguese,
    russian,
};

template <>
struct EnumTable<SupportedLanguage> {
    using L = SupportedLanguage;
    static constexpr std::array<std::pair<L, std::string_view>, 9> entries{{
        {L::english, "en"},
        {L::simplifiedChinese, "zh-Hans"},
        {L::traditionalChinese, "zh-Hant"},
        {L::japanese, "ja"},
        {L::french, "fr"},
        {L::german, "de"},
        {L::spanish, "es"},
        {L::portuguese, "pt"},
        {L::russian, "ru"},
    }};
};

namespace Languages {

// The language's name in that language.
std::string_view nativeName(SupportedLanguage language);

// Maps one system language identifier (zh-Hant-TW, pt-BR, en_GB.UTF-8 after normalising)
// onto the set.
std::optional<SupportedLanguage> match(std::string_view identifier);

// The first identifier of the list that maps onto the set; English when none does.
SupportedLanguage firstSupported(std::span<const std::string> identifiers);

// Which entry of a list of localisation names serves this language.
std::optional<std::string> localization(SupportedLanguage language,
                                        std::span<const std::string> names);

// The user's preferred languages as the environment states them (LANGUAGE, then LC_ALL,
// LC_MESSAGES, LANG), turned into BCP 47-style identifiers ("pt_BR.UTF-8" gives "pt-BR").
std::vector<std::string> systemPreferredLanguages();

// The names gettext gives the language's catalogues, best first ("zh_CN" for zh-Hans); none
// for English, the language of the messages themselves.
std::vector<std::string> gettextLocaleNames(SupportedLanguage language);

}  // namespace Languages

// Follow the system, or one chosen language. Stored under "appLanguage".
class LanguagePreference {
public:
    static LanguagePreference system() { return LanguagePreference(std::nullopt); }
    static LanguagePreference specific(SupportedLanguage language) {
        return LanguagePreference(language);
    }

    bool isSystem() const { return !language_; }
    const std::optional<SupportedLanguage>& language() const { return language_; }

    // The chosen language, or the first supported of the system's languages, worked out now.
    SupportedLanguage effectiveLanguage() const;

    static LanguagePreference load(const platform::Defaults& defaults);
    void save(platform::Defaults& defaults) const;

    bool operator==(const LanguagePreference&) const = default;

private:
    explicit LanguagePreference(std::optional<SupportedLanguage> language) : language_(language) {}
    std::optional<SupportedLanguage> language_;
};

}  // namespace tesvano
