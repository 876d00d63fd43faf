#include "TesvanoKit/Rules/TextFolding.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace tesvano::TextFolding {

bool isASCII(std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowercased(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        std::ranges::transform(out, out.begin(), asciiLower);
        return out;
    }
    auto unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

bool isTrimmedSpace(char32_t c) {
    return c == 0x09 || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

std::string trimmed(std::string_view text) {
    if (isASCII(text)) {
        const auto first = text.find_first_not_of(" \t");
        if (first == std::string_view::npos) {
            return {};
        }
        return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
    }
    const auto unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    int32_t begin = 0;
    int32_t end = unicode.length();
    while (begin < end && isTrimmedSpace(static_cast<char32_t>(unicode.char32At(begin)))) {
        begin = unicode.moveIndex32(begin, 1);
    }
    while (end > begin) {
        const int32_t previous = unicode.moveIndex32(end, -1);
        if (!isTrimmedSpace(static_cast<char32_t>(unicode.char32At(previous)))) {
            break;
        }
        end = previous;
    }
    std::string out;
    unicode.tempSubStringBetween(begin, end).toUTF8String(out);
    return out;
}

}  // namespace tesvano::TextFolding
