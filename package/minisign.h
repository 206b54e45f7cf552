#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {

// Signatures in the formats of the minisign tool, so that a vendor may sign a package with
// either tool and a dealer may check it with either. Ed25519, SHA-256 and BLAKE2b-512 come from
// libcrypto.

using KeyId = std::array<std::uint8_t, 8>;
using Sha256Digest = std::array<std::uint8_t, 32>;
using Blake2b512Digest = std::array<std::uint8_t, 64>;

Sha256Digest sha256Digest(std::span<const std::uint8_t> bytes);
Blake2b512Digest blake2b512Digest(std::span<const std::uint8_t> bytes);
// Unkeyed BLAKE2b with a 32-byte output (RFC 7693): the checksum of a minisign secret key.
// libcrypto 3.0 offers BLAKE2b only with a 64-byte output, which is a different function.
std::array<std::uint8_t, 32> blake2b256Digest(std::span<const std::uint8_t> bytes);

std::string base64Encode(std::span<const std::uint8_t> bytes);
// Strict: padding as the encoder writes it, no spaces; nullopt otherwise.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

// The key id as minisign shows it: the eight bytes as one little-endian number, in
// upper-case hex.
std::string keyIdText(const KeyId& id);

struct MinisignPublicKey {
  KeyId id{};
  std::array<std::uint8_t, 32> key{};
};

struct MinisignSecretKey {
  KeyId id{};
  std::array<std::uint8_t, 32> seed{};
  std::array<std::uint8_t, 32> publicKey{};
};

struct MinisignSignature {
  bool prehashed = true;  // "ED": over the BLAKE2b-512 of the file; "Ed": over the file
  KeyId id{};
  std::array<std::uint8_t, 64> signature{};
  std::string trustedComment;
  std::array<std::uint8_t, 64> globalSignature{};
};

// The text of a .pub file: "untrusted comment: ..." and the base64 line.
std::optional<MinisignPublicKey> parsePublicKey(std::string_view text, std::string& problem);
std::string formatPublicKey(const MinisignPublicKey& key);

// Secret keys without a password (the form `minisign -G -W` writes). A key encrypted with a
// password is refused with a line that says so.
std::optional<MinisignSecretKey> parseSecretKey(std::string_view text, std::string& problem);
std::string formatSecretKey(const MinisignSecretKey& key);

// A new key pair with a random id, or nullopt when libcrypto has no randomness.
std::optional<MinisignSecretKey> generateSecretKey();
MinisignPublicKey publicKeyOf(const MinisignSecretKey& key);

std::optional<MinisignSignature> parseSignature(std::string_view text, std::string& problem);
std::string formatSignature(const MinisignSignature& signature);

// Signs the message in the prehashed form, with the trusted comment (one line).
std::optional<MinisignSignature> signMessage(const MinisignSecretKey& key,
                                             std::span<const std::uint8_t> message,
                                             const std::string& trustedComment);

enum class SignatureCheck { Good, BadSignature, BadTrustedComment };
// The signature over the message, then the trusted comment's; the key id is not compared.
SignatureCheck verifySignature(const MinisignPublicKey& key, const MinisignSignature& signature,
                               std::span<const std::uint8_t> message);

}  // namespace orvik
