#include "TesvanoKit/Rules/URLMatcher.h"

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <uriparser/Uri.h>

#include <algorithm>

#include "Platform/Log/Log.h"
#include "TesvanoKit/Rules/TextFolding.h"
#include "TesvanoKit/Rules/URLRegexCache.h"

namespace tesvano::URLMatcher {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("URLMatcher");
    return logger;
}

using TextFolding::asciiLower;
using TextFolding::isASCII;
using TextFolding::isTrimmedSpace;
using TextFolding::lowercased;

bool isValidUTF8(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING ||
           U_SUCCESS(status);
}

// Lower-cased and trimmed; for the suffix and exact-domain types a leading "*." is dropped
// once. Writes into `out` so that a walk reuses one buffer.
void normalisePattern(std::string_view pattern, URLMatchType type, std::string& out) {
    out.clear();
    if (isASCII(pattern)) {
        const auto first = pattern.find_first_not_of(" \t");
        if (first != std::string_view::npos) {
            const auto last = pattern.find_last_not_of(" \t");
            out.assign(pattern.substr(first, last - first + 1));
            std::ranges::transform(out, out.begin(), asciiLower);
        }
    } else {
        auto unicode = icu::UnicodeString::fromUTF8(
            icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
        unicode.toLower(icu::Locale::getRoot());
        int32_t begin = 0;
        int32_t end = unicode.length();
        while (begin < end && isTrimmedSpace(unicode.char32At(begin))) {
            begin = unicode.moveIndex32(begin, 1);
        }
        while (end > begin) {
            const int32_t previous = unicode.moveIndex32(end, -1);
            if (!isTrimmedSpace(unicode.char32At(previous))) {
                break;
            }
            end = previous;
        }
        unicode.tempSubStringBetween(begin, end).toUTF8String(out);
    }
    if ((type == URLMatchType::domainSuffix || type == URLMatchType::domain) &&
        out.starts_with("*.")) {
        out.erase(0, 2);
    }
}

// The host text exactly as RFC 3986 parsing finds it (still percent-encoded); none when the
// text does not parse or has no authority.
std::optional<std::string> parsedHost(std::string_view text) {
    UriUriA uri{};
    const char* errorPosition = nullptr;
    if (uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPosition) !=
        URI_SUCCESS) {
        return std::nullopt;
    }
    std::optional<std::string> host;
    if (uri.hostText.first != nullptr && uri.hostText.afterLast != nullptr) {
        host.emplace(uri.hostText.first, uri.hostText.afterLast);
    }
    uriFreeUriMembersA(&uri);
    return host;
}

// The decoded, lower-cased host, or none when the raw host is empty or does not decode to
// text.
std::optional<std::string> finishedHost(std::string raw) {
    if (raw.empty()) {
        return std::nullopt;
    }
    const char* end = uriUnescapeInPlaceExA(raw.data(), URI_FALSE, URI_BR_DONT_TOUCH);
    raw.resize(static_cast<std::size_t>(end - raw.data()));
    if (raw.empty() || !isValidUTF8(raw)) {
        return std::nullopt;
    }
    return lowercased(raw);
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isSchemeCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

// Where the authority of `url` lies, if it has one, so that brackets of an IP literal can be
// told from brackets elsewhere.
std::pair<std::size_t, std::size_t> authorityRange(std::string_view url) {
    std::size_t start = 0;
    const auto colon = url.find(':');
    if (colon != std::string_view::npos && colon > 0 &&
        std::ranges::all_of(url.substr(0, colon), isSchemeCharacter)) {
        start = colon + 1;
    }
    if (url.substr(start).starts_with("//")) {
        start += 2;
        const auto end = url.find_first_of("/?#", start);
        return {start, end == std::string_view::npos ? url.size() : end};
    }
    return {0, 0};
}

// `url` with every character that RFC 3986 does not allow where it stands percent-encoded,
// as a browser's address bar may show it (spaces, letters outside ASCII, a stray "%").
std::string withInvalidCharactersEncoded(std::string_view url) {
    static constexpr std::string_view allowed =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~:/?@!$&'()*+,;=";
    static constexpr char hex[] = "0123456789ABCDEF";
    const auto [authorityBegin, authorityEnd] = authorityRange(url);
    bool seenFragment = false;
    std::string out;
    out.reserve(url.size() + url.size() / 2);
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        bool keep = allowed.find(c) != std::string_view::npos;
        if (c == '%') {
            keep = i + 2 < url.size() && isHexDigit(url[i + 1]) && isHexDigit(url[i + 2]);
        } else if (c == '#') {
            keep = !seenFragment;
            seenFragment = true;
        } else if (c == '[' || c == ']') {
            keep = i >= authorityBegin && i < authorityEnd;
        }
        if (keep) {
            out.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
    }
    return out;
}

bool hostMatches(URLMatchType type, std::string_view host, std::string_view pattern) {
    switch (type) {
        case URLMatchType::domain:
            return host == pattern;
        case URLMatchType::domainSuffix:
            return host == pattern || (host.size() > pattern.size() && host.ends_with(pattern) &&
                                       host[host.size() - pattern.size() - 1] == '.');
        case URLMatchType::domainKeyword:
            return host.find(pattern) != std::string_view::npos;
        case URLMatchType::urlRegex:
            break;
    }
    return false;
}

// The URL as UTF-16, made once per walk and only when a regular-expression rule is reached.
class RegexSubject {
public:
    explicit RegexSubject(std::string_view url) : url_(url) {}

    // None when the URL is empty or longer than the limit.
    std::optional<std::u16string_view> text() {
        if (!converted_) {
            converted_ = true;
            // Each UTF-16 unit takes at least one UTF-8 byte and at most three.
            if (!url_.empty() && url_.size() <= 3 * maxRegexURLLength) {
                utf16_ = icu::UnicodeString::fromUTF8(
                    icu::StringPiece(url_.data(), static_cast<int32_t>(url_.size())));
            }
            const auto length = static_cast<std::size_t>(utf16_.length());
            usable_ = length > 0 && length <= maxRegexURLLength;
        }
        if (!usable_) {
            return std::nullopt;
        }
        return std::u16string_view(utf16_.getBuffer(), static_cast<std::size_t>(utf16_.length()));
    }

private:
    std::string_view url_;
    icu::UnicodeString utf16_;
    bool converted_ = false;
    bool usable_ = false;
};

bool regexMatches(const URLRule& rule, RegexSubject& subject,
                  const URLRegexCache::Evaluation& evaluation) {
    if (rule.hostPattern.empty()) {
        return false;
    }
    const auto text = subject.text();
    if (!text) {
        return false;
    }
    const auto outcome = URLRegexCache::shared().search(rule.hostPattern, *text, &evaluation);
    if (outcome.firstExhaustion) {
        log().warning(
            "The regular expression of URL rule %{public}s (%s) ran out of matching time or "
            "memory; the rule is skipped until its pattern is edited",
            rule.id.string(), rule.hostPattern);
    }
    return outcome.result == URLRegexCache::Result::match;
}

const URLRule* findFirst(std::string_view url, std::span<const URLRule> rules) {
    if (url.empty()) {
        return nullptr;
    }
    const auto urlHost = host(url);
    RegexSubject subject(url);
    // All patterns of one walk together get this long; a rule whose turn comes after the
    // budget is spent counts as no match this time.
    const URLRegexCache::Evaluation evaluation(URLRegexCache::shared());
    std::string pattern;
    for (const URLRule& rule : rules) {
        if (rule.matchType == URLMatchType::urlRegex) {
            if (regexMatches(rule, subject, evaluation)) {
                return &rule;
            }
            continue;
        }
        if (!urlHost) {
            continue;
        }
        normalisePattern(rule.hostPattern, rule.matchType, pattern);
        if (!pattern.empty() && hostMatches(rule.matchType, *urlHost, pattern)) {
            return &rule;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<URLRule> firstMatch(std::string_view url, std::span<const URLRule> rules) {
    if (const URLRule* rule = findFirst(url, rules)) {
        return *rule;
    }
    return std::nullopt;
}

std::optional<InputSourceID> firstMatchSourceID(std::string_view url,
                                                std::span<const URLRule> rules) {
    if (const URLRule* rule = findFirst(url, rules)) {
        return rule->lockedSourceID;
    }
    return std::nullopt;
}

std::optional<std::string> host(std::string_view url) {
    if (url.empty()) {
        return std::nullopt;
    }
    if (auto raw = parsedHost(url)) {
        if (auto result = finishedHost(std::move(*raw))) {
            return result;
        }
    }
    const std::string encoded = withInvalidCharactersEncoded(url);
    if (encoded != url) {
        if (auto raw = parsedHost(encoded)) {
            return finishedHost(std::move(*raw));
        }
    }
    return std::nullopt;
}

bool isSkipped(const URLRule& rule) {
    return rule.matchType == URLMatchType::urlRegex &&
           URLRegexCache::shared().isExhausted(rule.hostPattern);
}

bool isValidPattern(std::string_view pattern) {
    if (pattern.size() > URLRegexCache::maximumPatternBytes) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    const std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(icu::StringPiece(
                                       pattern.data(), static_cast<int32_t>(pattern.size()))),
                                   0, parseError, status));
    return U_SUCCESS(status) && compiled != nullptr;
}

}  // namespace tesvano::URLMatcher
