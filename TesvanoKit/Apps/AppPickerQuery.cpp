#include "TesvanoKit/Apps/AppPickerQuery.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "TesvanoKit/Monitors/ProcessIdentity.h"

namespace tesvano::AppPickerQuery {

std::u16string folded(std::string_view text) {
    auto unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.foldCase();
    return {reinterpret_cast<const char16_t*>(unicode.getBuffer()),
            static_cast<std::size_t>(unicode.length())};
}

bool containsFolded(const std::u16string& foldedText, const std::u16string& foldedQuery) {
    return foldedText.find(foldedQuery) != std::u16string::npos;
}

bool matches(const InstalledApp& app, std::string_view query) {
    if (query.empty()) {
        return true;
    }
    const auto needle = folded(query);
    return containsFolded(folded(app.name), needle) || containsFolded(folded(app.appId), needle);
}

std::vector<InstalledApp> filtered(const std::vector<InstalledApp>& apps, std::string_view query) {
    if (query.empty()) {
        return apps;
    }
    std::vector<InstalledApp> out;
    for (const auto& app : apps) {
        if (matches(app, query)) {
            out.push_back(app);
        }
    }
    return out;
}

std::string normalizedManualAppId(std::string_view text) {
    const auto unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    int32_t begin = 0;
    int32_t end = unicode.length();
    while (begin < end && u_isUWhiteSpace(unicode.char32At(begin))) {
        begin = unicode.moveIndex32(begin, 1);
    }
    while (end > begin && u_isUWhiteSpace(unicode.char32At(unicode.moveIndex32(end, -1)))) {
        end = unicode.moveIndex32(end, -1);
    }
    const auto inner = unicode.tempSubStringBetween(begin, end);
    std::string trimmed;
    inner.toUTF8String(trimmed);
    if (ProcessIdentity::processName(trimmed)) {
        return trimmed;
    }
    for (int32_t i = 0; i < inner.length(); i = inner.moveIndex32(i, 1)) {
        if (u_isUWhiteSpace(inner.char32At(i))) {
            return {};
        }
    }
    return trimmed;
}

}  // namespace tesvano::AppPickerQuery
