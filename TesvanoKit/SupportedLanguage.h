#pragma once

#include <optional>
#include <string_view>

#include "TesvanoKit/EnumCoding.h"

namespace tesvano {

// The interface languages, in the order of every list of languages.
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

// Raw values are the language codes; `enumFromRawValue` compares them exactly.
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

namespace SupportedLanguages {

// Maps a language identifier such as "zh-Hant-TW" or "pt-BR" onto the set, leniently: the
// language with its second piece first ("zh-hans"), then Chinese by region or script, then the
// language alone. None for a language outside the set.
std::optional<SupportedLanguage> match(std::string_view identifier);

}  // namespace SupportedLanguages

}  // namespace tesvano
