// Feeds arbitrary bytes to the appcast parser and the choice of an item. Besides crashes,
// hangs and sanitizer reports, it stops on a broken promise: an accepted item without a
// version, a secure enclosure address, a positive length or a decodable signature, a feed that
// does not read back the same once written (its publication time included), or a chosen item that
// is not newer than the running version or not on an allowed channel.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Platform/Updater/Appcast.h"
#include "Platform/Updater/Signature.h"
#include "Platform/Updater/Version.h"

namespace {

using namespace tesvano::platform;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "appcast_fuzz: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    const auto appcast = parseAppcast(xml);
    if (!appcast) {
        require(!appcast.error().empty(), "a refusal without a reason");
        return 0;
    }
    for (const auto& item : appcast->items) {
        require(!item.version.empty() && !item.displayVersion.empty(), "an item without version");
        require(isSecureAddress(item.enclosure.url), "an enclosure at an address not secure");
        require(item.enclosure.length > 0, "an empty enclosure");
        require(decodeSignature(item.enclosure.edSignature).has_value(), "a bad signature kept");
        require(compareVersions(item.version, item.version) == 0, "a version unequal to itself");
        if (item.date) {
            require(parseRFC3339(formatRFC3339(*item.date)).has_value(),
                    "a date that does not "
                    "read back");
        }
    }
    // What the release tool writes reads back to the same items.
    const auto again = parseAppcast(writeAppcast(*appcast));
    require(again.has_value(), "a written feed does not parse");
    require(again->items == appcast->items, "a written feed reads back different items");
    require(again->published.has_value() == appcast->published.has_value(),
            "a written feed loses its publication time");
    for (const char* current : {"0", "1.0", "1.3.0-beta.1"}) {
        for (bool beta : {false, true}) {
            const std::set<std::string> channels =
                beta ? std::set<std::string>{"beta"} : std::set<std::string>{};
            if (const auto best = bestAppcastItem(*appcast, channels, current)) {
                require(isNewerVersion(best->version, current), "a chosen item is not newer");
                require(!best->channel || channels.contains(*best->channel),
                        "a chosen item of a channel not allowed");
            }
        }
    }
    return 0;
}
