// Feeds arbitrary bytes to the reader of signed feeds. Besides crashes, hangs and sanitizer
// reports, it stops on a broken promise: a text that no key signed is accepted, or a text
// signed with the key does not read back as exactly what was signed, or survives a change.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Platform/Updater/Signature.h"

namespace {

using namespace tesvano::platform;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "signed_feed_fuzz: %s\n", what);
        std::abort();
    }
}

const Ed25519KeyPair& keys() {
    static const Ed25519KeyPair pair = generateKeyPair();
    return pair;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Nobody holds the secret key of this run: nothing arbitrary may pass.
    require(!verifiedFeedBody(text, keys().publicKey).has_value(), "an unsigned text accepted");

    const std::string signedText = signFeed(text, keys().secretKey);
    const auto body = verifiedFeedBody(signedText, keys().publicKey);
    require(body.has_value(), "a signed text refused");
    std::string expected(text);
    if (!expected.empty() && expected.back() != '\n') {
        expected += '\n';
    }
    require(*body == expected, "a signed text reads back different");
    // One changed byte anywhere in a signed feed is refused.
    if (size > 0) {
        std::string changed = signedText;
        changed[data[0] % changed.size()] ^= static_cast<char>(1 + data[size - 1] % 255);
        require(!verifiedFeedBody(changed, keys().publicKey).has_value(),
                "a changed feed accepted");
    }
    return 0;
}
