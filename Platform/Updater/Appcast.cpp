#include "Platform/Updater/Appcast.h"

#include <expat.h>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>

#include "Platform/Updater/Signature.h"
#include "Platform/Updater/Version.h"

namespace tesvano::platform {

namespace {

constexpr std::size_t maxItems = 1000;
constexpr std::size_t maxDepth = 16;

struct ParseState {
    XML_Parser parser = nullptr;
    Appcast appcast;
    std::optional<std::string> failure;
    std::vector<std::string> path;
    std::optional<AppcastItem> item;
    bool itemHasEnclosure = false;
    bool itemMalformed = false;
    std::string text;
    bool sawRoot = false;
};

void stop(ParseState& s, std::string message) {
    if (!s.failure) {
        s.failure = std::move(message);
    }
    XML_StopParser(s.parser, XML_FALSE);
}

std::string_view trimmed(std::string_view v) {
    const auto first = v.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = v.find_last_not_of(" \t\r\n");
    return v.substr(first, last - first + 1);
}

void readEnclosure(ParseState& s, const XML_Char** attributes) {
    AppcastEnclosure enclosure;
    bool lengthOK = false;
    for (int i = 0; attributes[i] != nullptr; i += 2) {
        const std::string_view name = attributes[i];
        const std::string_view value = attributes[i + 1];
        if (name == "url") {
            enclosure.url = std::string(trimmed(value));
        } else if (name == "length") {
            const std::string_view digits = trimmed(value);
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), enclosure.length);
            lengthOK =
                ec == std::errc() && end == digits.data() + digits.size() && enclosure.length > 0;
        } else if (name == "edSignature") {
            enclosure.edSignature = std::string(trimmed(value));
        }
    }
    if (!isSecureAddress(enclosure.url) || !lengthOK ||
        !decodeSignature(enclosure.edSignature).has_value() || s.itemHasEnclosure) {
        s.itemMalformed = true;
        return;
    }
    s.item->enclosure = std::move(enclosure);
    s.itemHasEnclosure = true;
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& s = *static_cast<ParseState*>(data);
    const std::string_view element = name;
    if (s.path.size() >= maxDepth) {
        stop(s, "the feed is nested too deeply");
        return;
    }
    if (s.path.empty()) {
        if (element != "appcast") {
            stop(s, "the document is no appcast (root element <" + std::string(element) + ">)");
            return;
        }
        s.sawRoot = true;
        for (int i = 0; attributes[i] != nullptr; i += 2) {
            const std::string_view attribute = attributes[i];
            if (attribute == "architecture") {
                s.appcast.architecture = attributes[i + 1];
            } else if (attribute == "published") {
                s.appcast.published = parseRFC3339(trimmed(attributes[i + 1]));
                // Within the years the writer can spell (0000 to 9999 in UTC).
                if (!s.appcast.published || !parseRFC3339(formatRFC3339(*s.appcast.published))) {
                    stop(s, "the feed's publication time is no RFC 3339 date");
                    return;
                }
            }
        }
    } else if (s.path.size() == 1 && element == "item") {
        if (s.appcast.items.size() + static_cast<std::size_t>(s.appcast.rejectedItems) >=
            maxItems) {
            stop(s, "the feed holds too many items");
            return;
        }
        s.item.emplace();
        s.itemHasEnclosure = false;
        s.itemMalformed = false;
    } else if (s.path.size() == 2 && s.item && element == "enclosure") {
        readEnclosure(s, attributes);
    }
    s.path.emplace_back(element);
    s.text.clear();
}

void XMLCALL onEnd(void* data, const XML_Char* /*name*/) {
    auto& s = *static_cast<ParseState*>(data);
    if (s.path.empty()) {
        return;
    }
    const std::string element = s.path.back();
    s.path.pop_back();
    if (s.path.size() == 2 && s.item && s.path[1] == "item") {
        const std::string_view value = trimmed(s.text);
        if (element == "version") {
            s.item->version = std::string(value);
        } else if (element == "displayVersion") {
            s.item->displayVersion = std::string(value);
        } else if (element == "date") {
            s.item->date = parseRFC3339(value);
        } else if (element == "channel") {
            if (!value.empty()) {
                s.item->channel = std::string(value);
            }
        } else if (element == "releaseNotes") {
            s.item->releaseNotes = s.text;
        }
    } else if (s.path.size() == 1 && element == "item" && s.item) {
        if (s.item->version.empty() || !s.itemHasEnclosure || s.itemMalformed) {
            ++s.appcast.rejectedItems;
        } else {
            if (s.item->displayVersion.empty()) {
                s.item->displayVersion = s.item->version;
            }
            s.appcast.items.push_back(std::move(*s.item));
        }
        s.item.reset();
    }
    s.text.clear();
}

void XMLCALL onText(void* data, const XML_Char* text, int length) {
    auto& s = *static_cast<ParseState*>(data);
    if (s.path.size() == 3 && s.item) {
        s.text.append(text, static_cast<std::size_t>(length));
    }
}

void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    stop(*static_cast<ParseState*>(data), "the feed declares a document type, which is refused");
}

void XMLCALL onEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                      const XML_Char*, const XML_Char*, const XML_Char*) {
    stop(*static_cast<ParseState*>(data), "the feed declares entities, which is refused");
}

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out) {
    if (at + count > text.size()) {
        return false;
    }
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

namespace {

bool startsWithNoCase(std::string_view url, std::string_view prefix) {
    if (url.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool isHttpsAddress(std::string_view url) {
    return startsWithNoCase(url, "https://") && url.size() > 8 && url[8] != '/';
}

bool isLoopbackHttpAddress(std::string_view url) {
    if (!startsWithNoCase(url, "http://")) {
        return false;
    }
    // The host ends the authority; user information before it would let "127.0.0.1@" lead.
    const std::string_view rest = url.substr(7);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) {
        return false;
    }
    for (std::string_view host : {"127.0.0.1", "[::1]"}) {
        if (authority == host || (authority.starts_with(host) && authority.size() > host.size() &&
                                  authority[host.size()] == ':')) {
            return true;
        }
    }
    return false;
}

bool isSecureAddress(std::string_view url) {
    return isHttpsAddress(url) || isLoopbackHttpAddress(url);
}

bool mayFetch(std::string_view url, const HttpRules& rules, std::string_view from) {
    if (isHttpsAddress(url)) {
        return true;
    }
    // Plain http only where the feed itself is, and never as a step down from https.
    return rules.plainLoopback && isLoopbackHttpAddress(url) &&
           (from.empty() || isLoopbackHttpAddress(from));
}

std::string_view thisArchitecture() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__i386__)
    return "i686";
#elif defined(__arm__)
    return "armv7l";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64";
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return "ppc64le";
#elif defined(__s390x__)
    return "s390x";
#else
    return "unknown";
#endif
}

std::optional<WallTime> parseRFC3339(std::string_view t) {
    int year, month, day, hour, minute, second;
    if (!digits(t, 0, 4, year) || t.size() < 19 || t[4] != '-' || !digits(t, 5, 2, month) ||
        t[7] != '-' || !digits(t, 8, 2, day) || (t[10] != 'T' && t[10] != 't' && t[10] != ' ') ||
        !digits(t, 11, 2, hour) || t[13] != ':' || !digits(t, 14, 2, minute) || t[16] != ':' ||
        !digits(t, 17, 2, second)) {
        return std::nullopt;
    }
    std::size_t i = 19;
    double fraction = 0;
    if (i < t.size() && t[i] == '.') {
        double scale = 0.1;
        ++i;
        const std::size_t start = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            fraction += (t[i] - '0') * scale;
            scale /= 10;
            ++i;
        }
        if (i == start) {
            return std::nullopt;
        }
    }
    int offsetMinutes = 0;
    if (i < t.size() && (t[i] == 'Z' || t[i] == 'z')) {
        ++i;
    } else if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        int oh, om;
        if (!digits(t, i + 1, 2, oh) || i + 3 >= t.size() || t[i + 3] != ':' ||
            !digits(t, i + 4, 2, om) || oh > 23 || om > 59) {
            return std::nullopt;
        }
        offsetMinutes = (t[i] == '+' ? 1 : -1) * (oh * 60 + om);
        i += 6;
    } else {
        return std::nullopt;
    }
    if (i != t.size() || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    const std::chrono::year_month_day ymd{std::chrono::year(year),
                                          std::chrono::month(static_cast<unsigned>(month)),
                                          std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok()) {
        return std::nullopt;
    }
    const auto days = std::chrono::sys_days(ymd);
    const double seconds = static_cast<double>(days.time_since_epoch().count()) * 86400.0 +
                           hour * 3600.0 + minute * 60.0 + second + fraction - offsetMinutes * 60.0;
    return WallTime(Seconds(seconds));
}

std::string formatRFC3339(WallTime time) {
    const auto whole = std::chrono::floor<std::chrono::seconds>(time);
    const auto days = std::chrono::floor<std::chrono::days>(whole);
    const std::chrono::year_month_day ymd(days);
    const std::chrono::hh_mm_ss hms(whole - days);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02ld:%02ld:%02lldZ",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<long>(hms.hours().count()),
                  static_cast<long>(hms.minutes().count()),
                  static_cast<long long>(hms.seconds().count()));
    return buffer;
}

std::expected<Appcast, std::string> parseAppcast(std::string_view xml) {
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(
        XML_ParserCreate("UTF-8"), &XML_ParserFree);
    if (!parser) {
        return std::unexpected(std::string("cannot create an XML parser"));
    }
    ParseState state;
    state.parser = parser.get();
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), onStart, onEnd);
    XML_SetCharacterDataHandler(parser.get(), onText);
    XML_SetStartDoctypeDeclHandler(parser.get(), onDoctype);
    XML_SetEntityDeclHandler(parser.get(), onEntity);
    if (xml.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return std::unexpected(std::string("the feed is too large"));
    }
    const XML_Status status =
        XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE);
    if (state.failure) {
        return std::unexpected(*state.failure);
    }
    if (status != XML_STATUS_OK) {
        return std::unexpected("the feed is not well-formed XML (line " +
                               std::to_string(XML_GetCurrentLineNumber(parser.get())) + ": " +
                               XML_ErrorString(XML_GetErrorCode(parser.get())) + ")");
    }
    if (!state.sawRoot) {
        return std::unexpected(std::string("the feed is empty"));
    }
    return std::move(state.appcast);
}

namespace {

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string writeAppcast(const Appcast& appcast) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<appcast";
    if (!appcast.architecture.empty()) {
        out += " architecture=\"" + escaped(appcast.architecture) + "\"";
    }
    if (appcast.published) {
        out += " published=\"" + formatRFC3339(*appcast.published) + "\"";
    }
    out += ">\n";
    for (const auto& item : appcast.items) {
        out += "  <item>\n    <version>" + escaped(item.version) + "</version>\n";
        if (item.displayVersion != item.version) {
            out += "    <displayVersion>" + escaped(item.displayVersion) + "</displayVersion>\n";
        }
        if (item.date) {
            out += "    <date>" + formatRFC3339(*item.date) + "</date>\n";
        }
        if (item.channel) {
            out += "    <channel>" + escaped(*item.channel) + "</channel>\n";
        }
        if (!item.releaseNotes.empty()) {
            out += "    <releaseNotes>" + escaped(item.releaseNotes) + "</releaseNotes>\n";
        }
        out += "    <enclosure url=\"" + escaped(item.enclosure.url) + "\" length=\"" +
               std::to_string(item.enclosure.length) + "\" edSignature=\"" +
               escaped(item.enclosure.edSignature) + "\"/>\n  </item>\n";
    }
    return out + "</appcast>\n";
}

std::optional<AppcastItem> bestAppcastItem(const Appcast& appcast,
                                           const std::set<std::string>& allowedChannels,
                                           std::string_view currentVersion,
                                           std::optional<std::string_view> skippedVersion) {
    const AppcastItem* best = nullptr;
    for (const auto& item : appcast.items) {
        if (item.channel && !allowedChannels.contains(*item.channel)) {
            continue;
        }
        if (!isNewerVersion(item.version, currentVersion)) {
            continue;
        }
        if (skippedVersion && compareVersions(item.version, *skippedVersion) == 0) {
            continue;
        }
        if (best == nullptr || isNewerVersion(item.version, best->version)) {
            best = &item;
        }
    }
    return best ? std::optional<AppcastItem>(*best) : std::nullopt;
}

}  // namespace tesvano::platform
