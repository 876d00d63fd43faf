#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/HttpTransport.h"

namespace tesvano::platform {

// The downloadable archive of one release.
struct AppcastEnclosure {
    std::string url;
    std::uint64_t length = 0;
    std::string edSignature;  // base64 of the 64-byte Ed25519 signature of the archive
    bool operator==(const AppcastEnclosure&) const = default;
};

// One release offered by the feed.
struct AppcastItem {
    std::string version;         // compared with the running version
    std::string displayVersion;  // shown to the user; the version when the feed gives none
    std::optional<WallTime> date;
    std::optional<std::string> channel;  // none: offered on every channel
    std::string releaseNotes;            // Markdown; empty when the item has none
    AppcastEnclosure enclosure;
    bool operator==(const AppcastItem&) const = default;
};

struct Appcast {
    std::string architecture;
    // When the feed was signed; later feeds are later. None in feeds made before feeds carried
    // it.
    std::optional<WallTime> published;
    std::vector<AppcastItem> items;
    // Items left out because a required part was missing or malformed.
    int rejectedItems = 0;
};

// The feed is a small XML document of our own:
//
//   <appcast architecture="x86_64" published="2026-12-01T10:00:00Z">
//     <item>
//       <version>1.2.0</version>
//       <displayVersion>1.2</displayVersion>                 (optional)
//       <date>2026-12-01T10:00:00Z</date>                    (optional, RFC 3339)
//       <channel>beta</channel>                              (optional)
//       <releaseNotes>Markdown text</releaseNotes>           (optional)
//       <enclosure url="https://…/tesvano-1.2.0-x86_64.tar.gz" length="123456"
//                  edSignature="base64"/>
//     </item>
//   </appcast>
//
// A publication time that is not RFC 3339 is refused; so are document type declarations (and
// with them entities). An item without a
// version, or without an enclosure with a secure address (isSecureAddress), a positive length
// and a signature of the right size, is left out and counted. The feed as published is
// signed (see verifiedFeedBody); this reads the signed part.
std::expected<Appcast, std::string> parseAppcast(std::string_view xml);

// The feed as XML that parseAppcast reads back to the same items.
std::string writeAppcast(const Appcast& appcast);

// An address the updater may fetch: https, or plain http to this machine's loopback
// interface, where nothing crosses a network (the latter only for a feed that is itself
// there: see mayFetch).
bool isSecureAddress(std::string_view url);
bool isHttpsAddress(std::string_view url);
// Plain http to 127.0.0.1 or [::1].
bool isLoopbackHttpAddress(std::string_view url);
// Whether a request may go to `url` under `rules`; `from` is the address that redirected there,
// if any.
bool mayFetch(std::string_view url, const HttpRules& rules, std::string_view from = {});

// The processor architecture this build is for, as feeds name it ("x86_64", "aarch64").
std::string_view thisArchitecture();

// RFC 3339 date-time ("2026-12-01T10:00:00Z", "…+02:00", fractions allowed).
std::optional<WallTime> parseRFC3339(std::string_view text);
std::string formatRFC3339(WallTime time);

// The newest item newer than `currentVersion` that the allowed channels admit: an item
// without a channel is always admitted, one with a channel only when that name is allowed.
// `skippedVersion`, when given, is passed over (a newer one is still offered).
std::optional<AppcastItem> bestAppcastItem(const Appcast& appcast,
                                           const std::set<std::string>& allowedChannels,
                                           std::string_view currentVersion,
                                           std::optional<std::string_view> skippedVersion = {});

}  // namespace tesvano::platform
