#include "Platform/Updater/Signature.h"

#include <sodium.h>

#include <fstream>
#include <iterator>
#include <vector>

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

std::optional<std::vector<std::uint8_t>> readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
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

bool verifyFileSignature(const std::filesystem::path& file, std::string_view signature,
                         const Ed25519PublicKey& key) {
    const auto bytes = readFile(file);
    return bytes && verifySignature(*bytes, signature, key);
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
    const auto bytes = readFile(file);
    if (!bytes) {
        return std::unexpected("cannot read " + file.string());
    }
    return toBase64(sign(*bytes, key));
}

}  // namespace tesvano::platform
