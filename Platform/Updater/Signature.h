#pragma once

#include <array>
#include <atomic>
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

// Release archives are signed in Ed25519ph (libsodium's multi-part form: the archive is
// hashed with SHA-512 as it is read), so that neither side holds a whole archive in memory.
// Whether `signature` (base64) is `key`'s signature of everything `fd` holds, read from its
// start in pieces; an unreadable file does not verify. `cancelled`, when given, is polled
// between pieces and makes the check answer false.
bool verifyStreamSignature(int fd, std::string_view signature, const Ed25519PublicKey& key,
                           const std::atomic<bool>* cancelled = nullptr);
bool verifyFileSignature(const std::filesystem::path& file, std::string_view signature,
                         const Ed25519PublicKey& key);

// A feed carries its own signature on its last line, an XML comment
// "<!-- tesvano-feed-signature BASE64 -->" after the document: the plain Ed25519 signature
// of every byte before that line. The whole file stays well-formed XML.
inline constexpr std::string_view feedSignaturePrefix = "<!-- tesvano-feed-signature ";
// The feed text with its signature line appended.
std::string signFeed(std::string_view feed, const Ed25519SecretKey& key);
// The signed part of a feed whose signature line is present and is `key`'s, else why not.
std::expected<std::string_view, std::string> verifiedFeedBody(std::string_view signedFeed,
                                                              const Ed25519PublicKey& key);

struct Ed25519KeyPair {
    Ed25519PublicKey publicKey;
    Ed25519SecretKey secretKey;
};
Ed25519KeyPair generateKeyPair();
Ed25519Signature sign(std::span<const std::uint8_t> message, const Ed25519SecretKey& key);
// An archive's Ed25519ph signature, as base64.
std::expected<std::string, std::string> signFile(const std::filesystem::path& file,
                                                 const Ed25519SecretKey& key);

}  // namespace tesvano::platform
