#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano {

// One query item, names and values decoded.
struct QueryItem {
    std::string name;
    std::string value;

    bool operator==(const QueryItem&) const = default;
};

// A URL reference (RFC 3986) split into its parts, without resolving against a base. The parts
// are kept as written, still percent-encoded.
struct URLComponents {
    // The text that was split: the URL itself or, when that is no URL, the URL with what may
    // not stand where it is percent-encoded (spaces, controls, bytes outside ASCII, a "%" that
    // starts no escape, brackets in the query or fragment, a second "#"), as typed URLs need.
    std::string text;
    std::optional<std::string> scheme;
    std::optional<std::string> host;  // present when the URL has an authority, maybe empty
    std::vector<std::string> pathSegments;
    std::optional<std::string> query;  // without "?"; present but empty for a bare "?"

    // None when the text is not a URL reference even after the encoding above.
    static std::optional<URLComponents> split(std::string_view url);

    // The items of the query in their order, split at "&" and at the first "=" of each, names
    // and values percent-decoded ("+" stays "+"); an item without "=" has the empty value.
    std::vector<QueryItem> queryItems() const;

    // The decoded path, its segments joined by "/".
    std::string decodedPath() const;
};

// Percent-decodes `text`. A decoding that is not valid UTF-8 gives `text` unchanged, so
// decoded texts are always UTF-8.
std::string percentDecoded(std::string_view text);

// Every byte but the unreserved characters (letters, digits, "-._~") percent-encoded, so the
// text reads back the same through any query parser, also one that takes "+" for a space.
std::string percentEncoded(std::string_view text);

}  // namespace tesvano
