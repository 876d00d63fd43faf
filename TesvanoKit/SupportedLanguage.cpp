#include "TesvanoKit/SupportedLanguage.h"

#include <string>
#include <vector>

namespace tesvano::SupportedLanguages {

namespace {

// Every code is ASCII, and no character outside ASCII lower-cases onto the letters they use
// but the Kelvin sign, whose "k" no code has: ASCII lower-casing decides the same.
std::string asciiLowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::optional<SupportedLanguage> byLowercasedCode(std::string_view code) {
    for (const auto& [language, raw] : EnumTable<SupportedLanguage>::entries) {
        if (asciiLowercased(raw) == code) {
            return language;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<SupportedLanguage> match(std::string_view identifier) {
    const std::string lowered = asciiLowercased(identifier);
    std::vector<std::string_view> pieces;
    std::string_view rest = lowered;
    while (!rest.empty()) {
        const auto dash = rest.find('-');
        const auto piece = rest.substr(0, dash);
        if (!piece.empty()) {
            pieces.push_back(piece);
        }
        rest = dash == std::string_view::npos ? std::string_view() : rest.substr(dash + 1);
    }
    if (pieces.empty()) {
        return std::nullopt;
    }
    if (pieces.size() >= 2) {
        if (auto language =
                byLowercasedCode(std::string(pieces[0]) + "-" + std::string(pieces[1]))) {
            return language;
        }
    }
    if (pieces[0] == "zh") {
        const std::string_view second = pieces.size() >= 2 ? pieces[1] : std::string_view();
        const bool traditional =
            second == "tw" || second == "hk" || second == "mo" || second == "hant";
        return traditional ? SupportedLanguage::traditionalChinese
                           : SupportedLanguage::simplifiedChinese;
    }
    return byLowercasedCode(pieces[0]);
}

}  // namespace tesvano::SupportedLanguages
