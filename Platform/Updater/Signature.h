#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tesvano::platform {

using Ed25519PublicKey = std::array<std::uint8_t, 32>;
using Ed25519SecretKey = std::array<std::uint8_t, 64>;
using Ed25519Signature = std::array<std::uint8_t, 64>;

// Standard base64 (with padding) of bytes, and back; none for text that is not exactly that.
std::string toBase64(std::span<const std::uint8_t> bytes);
std::optional<std::string> fromBase64(std::string_view text);

std::optional<Ed25519Signature> decodeSignature(std::string_view base64);
std::optional<Ed25519PublicKey> decodePublicKey(std::string_view base64);
std::optional<Ed25519SecretKey> decodeSecretKey(std::string_view base64);

// Whether `signature` (base64) is `key`'s Ed25519 signature of `message`.
bool verifySignature(std::span<const std::uint8_t> message, std::string_view signature,
                     const Ed25519PublicKey& key);
// The same for a file's whole content; an unreadable file does not verify.
bool verifyFileSignature(const std::filesystem::path& file, std::string_view signature,
                         const Ed25519PublicKey& key);

struct Ed25519KeyPair {
    Ed25519PublicKey publicKey;
    Ed25519SecretKey secretKey;
};
Ed25519KeyPair generateKeyPair();
Ed25519Signature sign(std::span<const std::uint8_t> message, const Ed25519SecretKey& key);
std::expected<std::string, std::string> signFile(const std::filesystem::path& file,
                                                 const Ed25519SecretKey& key);

}  // namespace tesvano::platform
