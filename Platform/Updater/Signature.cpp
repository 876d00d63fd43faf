#include "Platform/Updater/Signature.h"

#include <sodium.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "Platform/Updater/UniqueFd.h"

namespace tesvano::platform {

namespace {

bool initialised() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> decodeExact(std::string_view base64) {
    auto bytes = fromBase64(base64);
    if (!bytes || bytes->size() != N) {
        return std::nullopt;
    }
    std::array<std::uint8_t, N> out{};
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return out;
}

// Feeds the whole content of `fd`, from its start, into a multi-part signature state.
bool hashWhole(int fd, crypto_sign_state& state, const std::atomic<bool>* cancelled) {
    std::vector<std::uint8_t> buffer(256 * 1024);
    off_t offset = 0;
    for (;;) {
        if (cancelled != nullptr && cancelled->load()) {
            return false;
        }
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        crypto_sign_update(&state, buffer.data(), static_cast<unsigned long long>(n));
        offset += n;
    }
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string toBase64(std::span<const std::uint8_t> bytes) {
    initialised();
    std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1);  // the terminating zero
    return out;
}

std::optional<std::string> fromBase64(std::string_view text) {
    if (!initialised() || text.empty()) {
        return std::nullopt;
    }
    // libsodium's decoder reads a byte with its high bit set as one of the alphabet: such a
    // text would have more than one spelling. Only the alphabet itself is base64 here.
    const bool alphabet = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '/' || c == '=';
    });
    if (!alphabet) {
        return std::nullopt;
    }
    std::string out(text.size(), '\0');
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), out.size(), text.data(),
                          text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size()) {
        return std::nullopt;
    }
    out.resize(length);
    return out;
}

std::optional<Ed25519Signature> decodeSignature(std::string_view base64) {
    return decodeExact<crypto_sign_BYTES>(base64);
}
std::optional<Ed25519PublicKey> decodePublicKey(std::string_view base64) {
    return decodeExact<crypto_sign_PUBLICKEYBYTES>(base64);
}
std::optional<Ed25519SecretKey> decodeSecretKey(std::string_view base64) {
    return decodeExact<crypto_sign_SECRETKEYBYTES>(base64);
}

bool verifySignature(std::span<const std::uint8_t> message, std::string_view signature,
                     const Ed25519PublicKey& key) {
    const auto decoded = decodeSignature(signature);
    return initialised() && decoded &&
           crypto_sign_verify_detached(decoded->data(), message.data(), message.size(),
                                       key.data()) == 0;
}

bool verifyStreamSignature(int fd, std::string_view signature, const Ed25519PublicKey& key,
                           const std::atomic<bool>* cancelled) {
    auto decoded = decodeSignature(signature);
    if (!initialised() || !decoded || fd < 0) {
        return false;
    }
    crypto_sign_state state;
    crypto_sign_init(&state);
    return hashWhole(fd, state, cancelled) &&
           crypto_sign_final_verify(&state, decoded->data(), key.data()) == 0;
}

bool verifyFileSignature(const std::filesystem::path& file, std::string_view signature,
                         const Ed25519PublicKey& key) {
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    return verifyStreamSignature(fd.get(), signature, key);
}

std::string signFeed(std::string_view feed, const Ed25519SecretKey& key) {
    std::string out(feed);
    if (!out.empty() && out.back() != '\n') {
        out += '\n';
    }
    const auto signature = sign(bytesOf(out), key);
    return out + std::string(feedSignaturePrefix) + toBase64(signature) + " -->\n";
}

std::expected<std::string_view, std::string> verifiedFeedBody(std::string_view signedFeed,
                                                              const Ed25519PublicKey& key) {
    std::string_view text = signedFeed;
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    const auto lineStart = text.rfind('\n');
    const std::string_view last =
        lineStart == std::string_view::npos ? text : text.substr(lineStart + 1);
    if (!last.starts_with(feedSignaturePrefix) || !last.ends_with(" -->")) {
        return std::unexpected(std::string("the feed is not signed"));
    }
    const std::string_view signature =
        last.substr(feedSignaturePrefix.size(), last.size() - feedSignaturePrefix.size() - 4);
    const std::string_view body =
        lineStart == std::string_view::npos ? std::string_view() : text.substr(0, lineStart + 1);
    if (!verifySignature(bytesOf(body), signature, key)) {
        return std::unexpected(std::string("the feed's signature does not match"));
    }
    return body;
}

Ed25519KeyPair generateKeyPair() {
    initialised();
    Ed25519KeyPair pair{};
    crypto_sign_keypair(pair.publicKey.data(), pair.secretKey.data());
    return pair;
}

Ed25519Signature sign(std::span<const std::uint8_t> message, const Ed25519SecretKey& key) {
    initialised();
    Ed25519Signature signature{};
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), key.data());
    return signature;
}

std::expected<std::string, std::string> signFile(const std::filesystem::path& file,
                                                 const Ed25519SecretKey& key) {
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    crypto_sign_state state;
    if (!initialised() || fd.get() < 0 || crypto_sign_init(&state) != 0 ||
        !hashWhole(fd.get(), state, nullptr)) {
        return std::unexpected("cannot read " + file.string());
    }
    Ed25519Signature signature{};
    crypto_sign_final_create(&state, signature.data(), nullptr, key.data());
    return toBase64(signature);
}

}  // namespace tesvano::platform
