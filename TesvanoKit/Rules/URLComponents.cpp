#include "TesvanoKit/Rules/URLComponents.h"

#include <unicode/utf8.h>
#include <uriparser/Uri.h>

#include <cstdint>

namespace tesvano {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The characters RFC 3986 allows somewhere in a URL; "%" only as the start of an escape.
bool isURLCharacter(char c) {
    static constexpr std::string_view allowed =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~:/?#[]@!$&'()*+,;=";
    return allowed.find(c) != std::string_view::npos;
}

std::string withForbiddenCharactersEncoded(std::string_view url) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size() + url.size() / 2);
    bool inQuery = false;
    bool inFragment = false;
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        bool keep = isURLCharacter(c);
        if (c == '%') {
            keep = i + 2 < url.size() && isHexDigit(url[i + 1]) && isHexDigit(url[i + 2]);
        } else if (c == '[' || c == ']') {
            // Brackets belong to an IP literal host, never to a query or fragment.
            keep = !inQuery && !inFragment;
        } else if (c == '#') {
            keep = !inFragment;
            inFragment = true;
        } else if (c == '?') {
            inQuery = true;
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

std::optional<std::string> rangeText(const UriTextRangeA& range) {
    if (range.first == nullptr) {
        return std::nullopt;
    }
    return std::string(range.first, range.afterLast);
}

std::optional<URLComponents> splitExactly(std::string text) {
    UriUriA uri{};
    const char* errorPosition = nullptr;
    if (uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPosition) !=
        URI_SUCCESS) {
        return std::nullopt;
    }
    URLComponents parts;
    parts.scheme = rangeText(uri.scheme);
    parts.host = rangeText(uri.hostText);
    for (const UriPathSegmentA* segment = uri.pathHead; segment != nullptr;
         segment = segment->next) {
        parts.pathSegments.push_back(rangeText(segment->text).value_or(std::string()));
    }
    parts.query = rangeText(uri.query);
    uriFreeUriMembersA(&uri);
    parts.text = std::move(text);
    return parts;
}

bool isValidUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<URLComponents> URLComponents::split(std::string_view url) {
    if (auto parts = splitExactly(std::string(url))) {
        return parts;
    }
    std::string encoded = withForbiddenCharactersEncoded(url);
    if (encoded == url) {
        return std::nullopt;
    }
    return splitExactly(std::move(encoded));
}

std::vector<QueryItem> URLComponents::queryItems() const {
    std::vector<QueryItem> items;
    if (!query) {
        return items;
    }
    std::string_view rest = *query;
    while (true) {
        const auto amp = rest.find('&');
        const std::string_view item = rest.substr(0, amp);
        const auto equals = item.find('=');
        items.push_back(QueryItem{
            percentDecoded(item.substr(0, equals)),
            equals == std::string_view::npos ? std::string()
                                             : percentDecoded(item.substr(equals + 1)),
        });
        if (amp == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(amp + 1);
    }
    return items;
}

std::string URLComponents::decodedPath() const {
    std::string path;
    for (std::size_t i = 0; i < pathSegments.size(); ++i) {
        if (i > 0) {
            path.push_back('/');
        }
        path += percentDecoded(pathSegments[i]);
    }
    return path;
}

std::string percentDecoded(std::string_view text) {
    if (text.find('%') == std::string_view::npos) {
        return std::string(text);
    }
    // uriparser decodes up to a NUL byte; decode the pieces between any NULs one by one.
    std::string decoded;
    decoded.reserve(text.size());
    std::string_view rest = text;
    while (true) {
        const auto nul = rest.find('\0');
        std::string piece(rest.substr(0, nul));
        const char* end = uriUnescapeInPlaceExA(piece.data(), URI_FALSE, URI_BR_DONT_TOUCH);
        decoded.append(piece.data(), static_cast<std::size_t>(end - piece.data()));
        if (nul == std::string_view::npos) {
            break;
        }
        decoded.push_back('\0');
        rest.remove_prefix(nul + 1);
    }
    if (!isValidUTF8(decoded)) {
        return std::string(text);
    }
    return decoded;
}

std::string percentEncoded(std::string_view text) {
    // uriparser writes at most three bytes per input byte, plus the terminator.
    std::string out(text.size() * 3 + 1, '\0');
    const char* end =
        uriEscapeExA(text.data(), text.data() + text.size(), out.data(), URI_FALSE, URI_FALSE);
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

}  // namespace tesvano
