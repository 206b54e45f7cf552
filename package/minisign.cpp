#include "package/minisign.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

namespace orvik {
namespace {

constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";
constexpr std::array<std::uint8_t, 2> kEd = {'E', 'd'};
constexpr std::array<std::uint8_t, 2> kEdPrehashed = {'E', 'D'};
constexpr std::array<std::uint8_t, 2> kChecksumB2 = {'B', '2'};
constexpr std::array<std::uint8_t, 2> kKdfScrypt = {'S', 'c'};
constexpr std::array<std::uint8_t, 2> kKdfNone = {0, 0};
// sig_alg, kdf_alg, chk_alg, salt, opslimit, memlimit, key id, secret key, checksum.
constexpr std::size_t kSecretKeySize = 2 + 2 + 2 + 32 + 8 + 8 + 8 + 64 + 32;
constexpr std::size_t kSecretKeyIdOffset = 2 + 2 + 2 + 32 + 8 + 8;

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

template <std::size_t N>
std::array<std::uint8_t, N> evpDigest(const EVP_MD* md, std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, N> digest{};
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  unsigned int length = 0;
  if (context && EVP_DigestInit_ex(context.get(), md, nullptr) == 1 &&
      EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) == 1 &&
      EVP_DigestFinal_ex(context.get(), digest.data(), &length) == 1 && length == N) {
    return digest;
  }
  // Only an out-of-memory libcrypto gets here; a zero digest matches nothing a file yields.
  return std::array<std::uint8_t, N>{};
}

// BLAKE2b's compression function (RFC 7693, section 3.2).
constexpr std::array<std::uint64_t, 8> kBlakeIv = {
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};
constexpr std::uint8_t kBlakeSigma[12][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
    {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
    {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
    {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
    {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3}};

std::uint64_t rotr64(std::uint64_t x, int n) {
  return (x >> n) | (x << (64 - n));
}

void blakeCompress(std::array<std::uint64_t, 8>& h, const std::uint8_t* block, std::uint64_t count,
                   bool last) {
  std::uint64_t m[16];
  for (int i = 0; i < 16; ++i) {
    std::uint64_t word = 0;
    for (int b = 7; b >= 0; --b) {
      word = (word << 8) | block[i * 8 + b];
    }
    m[i] = word;
  }
  std::uint64_t v[16];
  for (int i = 0; i < 8; ++i) {
    v[i] = h[i];
    v[i + 8] = kBlakeIv[i];
  }
  v[12] ^= count;  // the byte count stays below 2^64 here
  if (last) {
    v[14] = ~v[14];
  }
  const auto mix = [&v](int a, int b, int c, int d, std::uint64_t x, std::uint64_t y) {
    v[a] = v[a] + v[b] + x;
    v[d] = rotr64(v[d] ^ v[a], 32);
    v[c] = v[c] + v[d];
    v[b] = rotr64(v[b] ^ v[c], 24);
    v[a] = v[a] + v[b] + y;
    v[d] = rotr64(v[d] ^ v[a], 16);
    v[c] = v[c] + v[d];
    v[b] = rotr64(v[b] ^ v[c], 63);
  };
  for (const auto& s : kBlakeSigma) {
    mix(0, 4, 8, 12, m[s[0]], m[s[1]]);
    mix(1, 5, 9, 13, m[s[2]], m[s[3]]);
    mix(2, 6, 10, 14, m[s[4]], m[s[5]]);
    mix(3, 7, 11, 15, m[s[6]], m[s[7]]);
    mix(0, 5, 10, 15, m[s[8]], m[s[9]]);
    mix(1, 6, 11, 12, m[s[10]], m[s[11]]);
    mix(2, 7, 8, 13, m[s[12]], m[s[13]]);
    mix(3, 4, 9, 14, m[s[14]], m[s[15]]);
  }
  for (int i = 0; i < 8; ++i) {
    h[i] ^= v[i] ^ v[i + 8];
  }
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The file's lines without their line ends; a last line without one counts too.
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    if (end == std::string_view::npos) {
      break;
    }
    text.remove_prefix(end + 1);
  }
  return lines;
}

template <std::size_t N>
bool startsWithBytes(const std::vector<std::uint8_t>& bytes, const std::array<std::uint8_t, N>& s,
                     std::size_t at = 0) {
  return bytes.size() >= at + N && std::equal(s.begin(), s.end(), bytes.begin() + at);
}

bool ed25519Sign(const std::array<std::uint8_t, 32>& seed, std::span<const std::uint8_t> message,
                 std::array<std::uint8_t, 64>& out) {
  PKey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()),
           &EVP_PKEY_free);
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  std::size_t length = out.size();
  return key && context &&
         EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestSign(context.get(), out.data(), &length, message.data(), message.size()) == 1 &&
         length == out.size();
}

bool ed25519Verify(const std::array<std::uint8_t, 32>& publicKey,
                   std::span<const std::uint8_t> message,
                   const std::array<std::uint8_t, 64>& signature) {
  PKey key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()),
      &EVP_PKEY_free);
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  return key && context &&
         EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(),
                          message.size()) == 1;
}

std::vector<std::uint8_t> globalMessage(const MinisignSignature& signature) {
  std::vector<std::uint8_t> message(signature.signature.begin(), signature.signature.end());
  message.insert(message.end(), signature.trustedComment.begin(), signature.trustedComment.end());
  return message;
}

// The checksum over sig_alg, key id and the 64-byte secret key (seed and public key).
std::array<std::uint8_t, 32> secretKeyChecksum(const MinisignSecretKey& key) {
  std::vector<std::uint8_t> bytes(kEd.begin(), kEd.end());
  bytes.insert(bytes.end(), key.id.begin(), key.id.end());
  bytes.insert(bytes.end(), key.seed.begin(), key.seed.end());
  bytes.insert(bytes.end(), key.publicKey.begin(), key.publicKey.end());
  return blake2b256Digest(bytes);
}

}  // namespace

Sha256Digest sha256Digest(std::span<const std::uint8_t> bytes) {
  return evpDigest<32>(EVP_sha256(), bytes);
}

Blake2b512Digest blake2b512Digest(std::span<const std::uint8_t> bytes) {
  return evpDigest<64>(EVP_blake2b512(), bytes);
}

std::array<std::uint8_t, 32> blake2b256Digest(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kOut = 32;
  std::array<std::uint64_t, 8> h = kBlakeIv;
  h[0] ^= 0x01010000ULL ^ kOut;  // no key
  std::uint64_t count = 0;
  std::size_t at = 0;
  // Every full block but the last is compressed as it comes; the last (possibly partial or
  // empty) block is padded with zeros and flagged.
  while (bytes.size() - at > 128) {
    count += 128;
    blakeCompress(h, bytes.data() + at, count, false);
    at += 128;
  }
  std::uint8_t block[128] = {};
  if (bytes.size() > at) {  // an empty span may have no data pointer at all
    std::memcpy(block, bytes.data() + at, bytes.size() - at);
  }
  count += bytes.size() - at;
  blakeCompress(h, block, count, true);
  std::array<std::uint8_t, kOut> out{};
  for (std::size_t i = 0; i < kOut; ++i) {
    out[i] = static_cast<std::uint8_t>(h[i / 8] >> (8 * (i % 8)));
  }
  return out;
}

std::string base64Encode(std::span<const std::uint8_t> bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                     static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(std::max(length, 0)));
  return text;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0 || text.size() > 4096) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool padding =
        c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text[i + 1] == '=');
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || padding)) {
      return std::nullopt;
    }
  }
  std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
  const int length =
      EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (length < 0) {
    return std::nullopt;
  }
  // EVP_DecodeBlock counts the padding as zero bytes.
  std::size_t padding = 0;
  for (std::size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) {
    ++padding;
  }
  bytes.resize(static_cast<std::size_t>(length) - padding);
  return bytes;
}

std::string keyIdText(const KeyId& id) {
  std::string text;
  for (std::size_t i = id.size(); i > 0; --i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", id[i - 1]);
    text += digits;
  }
  return text;
}

std::optional<MinisignPublicKey> parsePublicKey(std::string_view text, std::string& problem) {
  const std::vector<std::string_view> lines = splitLines(text);
  if (lines.size() < 2 || !startsWith(lines[0], kUntrusted)) {
    problem = "it is not a minisign public key (no \"untrusted comment:\" line)";
    return std::nullopt;
  }
  const auto bytes = base64Decode(lines[1]);
  if (!bytes || bytes->size() != 2 + 8 + 32 || !startsWithBytes(*bytes, kEd)) {
    problem = "its key line is not an Ed25519 minisign public key";
    return std::nullopt;
  }
  MinisignPublicKey key;
  std::copy_n(bytes->begin() + 2, 8, key.id.begin());
  std::copy_n(bytes->begin() + 10, 32, key.key.begin());
  return key;
}

std::string formatPublicKey(const MinisignPublicKey& key) {
  std::vector<std::uint8_t> bytes(kEd.begin(), kEd.end());
  bytes.insert(bytes.end(), key.id.begin(), key.id.end());
  bytes.insert(bytes.end(), key.key.begin(), key.key.end());
  return std::string(kUntrusted) + "minisign public key " + keyIdText(key.id) + "\n" +
         base64Encode(bytes) + "\n";
}

std::optional<MinisignSecretKey> parseSecretKey(std::string_view text, std::string& problem) {
  const std::vector<std::string_view> lines = splitLines(text);
  if (lines.size() < 2 || !startsWith(lines[0], kUntrusted)) {
    problem = "it is not a minisign secret key (no \"untrusted comment:\" line)";
    return std::nullopt;
  }
  const auto bytes = base64Decode(lines[1]);
  if (!bytes || bytes->size() != kSecretKeySize || !startsWithBytes(*bytes, kEd) ||
      !startsWithBytes(*bytes, kChecksumB2, 4)) {
    problem = "its key line is not an Ed25519 minisign secret key";
    return std::nullopt;
  }
  if (startsWithBytes(*bytes, kKdfScrypt, 2)) {
    problem =
        "it is protected by a password, which this tool cannot use; make a key without one "
        "(orvik-pack keygen, or minisign -G -W)";
    return std::nullopt;
  }
  if (!startsWithBytes(*bytes, kKdfNone, 2)) {
    problem = "its key line is not an Ed25519 minisign secret key";
    return std::nullopt;
  }
  MinisignSecretKey key;
  auto at = bytes->begin() + kSecretKeyIdOffset;
  std::copy_n(at, 8, key.id.begin());
  std::copy_n(at + 8, 32, key.seed.begin());
  std::copy_n(at + 40, 32, key.publicKey.begin());
  std::array<std::uint8_t, 32> checksum{};
  std::copy_n(at + 72, 32, checksum.begin());
  // minisign 0.11 leaves the checksum of a key without a password zero; others write it.
  if (std::any_of(checksum.begin(), checksum.end(), [](std::uint8_t b) { return b != 0; }) &&
      checksum != secretKeyChecksum(key)) {
    problem = "its checksum does not match: the key is damaged";
    return std::nullopt;
  }
  // The stored public half must be the one the seed gives, or signatures would not verify.
  std::array<std::uint8_t, 64> probe{};
  const std::array<std::uint8_t, 1> nothing = {0};
  if (!ed25519Sign(key.seed, nothing, probe) || !ed25519Verify(key.publicKey, nothing, probe)) {
    problem = "its public half does not belong to its secret half: the key is damaged";
    return std::nullopt;
  }
  return key;
}

std::string formatSecretKey(const MinisignSecretKey& key) {
  std::vector<std::uint8_t> bytes(kEd.begin(), kEd.end());
  bytes.insert(bytes.end(), kKdfNone.begin(), kKdfNone.end());
  bytes.insert(bytes.end(), kChecksumB2.begin(), kChecksumB2.end());
  bytes.resize(kSecretKeyIdOffset, 0);  // no salt, no limits: there is no password
  bytes.insert(bytes.end(), key.id.begin(), key.id.end());
  bytes.insert(bytes.end(), key.seed.begin(), key.seed.end());
  bytes.insert(bytes.end(), key.publicKey.begin(), key.publicKey.end());
  const auto checksum = secretKeyChecksum(key);
  bytes.insert(bytes.end(), checksum.begin(), checksum.end());
  return std::string(kUntrusted) + "minisign secret key " + keyIdText(key.id) + "\n" +
         base64Encode(bytes) + "\n";
}

std::optional<MinisignSecretKey> generateSecretKey() {
  MinisignSecretKey key;
  if (RAND_bytes(key.id.data(), static_cast<int>(key.id.size())) != 1 ||
      RAND_priv_bytes(key.seed.data(), static_cast<int>(key.seed.size())) != 1) {
    return std::nullopt;
  }
  PKey pkey(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key.seed.data(), 32),
            &EVP_PKEY_free);
  std::size_t length = key.publicKey.size();
  if (!pkey || EVP_PKEY_get_raw_public_key(pkey.get(), key.publicKey.data(), &length) != 1 ||
      length != key.publicKey.size()) {
    return std::nullopt;
  }
  return key;
}

MinisignPublicKey publicKeyOf(const MinisignSecretKey& key) {
  return MinisignPublicKey{key.id, key.publicKey};
}

std::optional<MinisignSignature> parseSignature(std::string_view text, std::string& problem) {
  const std::vector<std::string_view> lines = splitLines(text);
  if (lines.size() < 4 || !startsWith(lines[0], kUntrusted) || !startsWith(lines[2], kTrusted)) {
    problem =
        "it is not a minisign signature (four lines: comment, signature, trusted comment, "
        "its signature)";
    return std::nullopt;
  }
  const auto bytes = base64Decode(lines[1]);
  const auto global = base64Decode(lines[3]);
  if (!bytes || bytes->size() != 2 + 8 + 64 || !global || global->size() != 64 ||
      !(startsWithBytes(*bytes, kEdPrehashed) || startsWithBytes(*bytes, kEd))) {
    problem = "its signature lines are not Ed25519 minisign signatures";
    return std::nullopt;
  }
  MinisignSignature signature;
  signature.prehashed = startsWithBytes(*bytes, kEdPrehashed);
  std::copy_n(bytes->begin() + 2, 8, signature.id.begin());
  std::copy_n(bytes->begin() + 10, 64, signature.signature.begin());
  signature.trustedComment = std::string(lines[2].substr(kTrusted.size()));
  std::copy_n(global->begin(), 64, signature.globalSignature.begin());
  return signature;
}

std::string formatSignature(const MinisignSignature& signature) {
  std::vector<std::uint8_t> bytes(2);
  const auto& alg = signature.prehashed ? kEdPrehashed : kEd;
  std::copy(alg.begin(), alg.end(), bytes.begin());
  bytes.insert(bytes.end(), signature.id.begin(), signature.id.end());
  bytes.insert(bytes.end(), signature.signature.begin(), signature.signature.end());
  return std::string(kUntrusted) + "signature from orvik-pack secret key " +
         keyIdText(signature.id) + "\n" + base64Encode(bytes) + "\n" + std::string(kTrusted) +
         signature.trustedComment + "\n" + base64Encode(signature.globalSignature) + "\n";
}

std::optional<MinisignSignature> signMessage(const MinisignSecretKey& key,
                                             std::span<const std::uint8_t> message,
                                             const std::string& trustedComment) {
  MinisignSignature signature;
  signature.prehashed = true;
  signature.id = key.id;
  // A line end would end the trusted comment early and break its signature.
  signature.trustedComment = trustedComment.substr(0, trustedComment.find_first_of("\r\n"));
  const Blake2b512Digest digest = blake2b512Digest(message);
  if (!ed25519Sign(key.seed, digest, signature.signature) ||
      !ed25519Sign(key.seed, globalMessage(signature), signature.globalSignature)) {
    return std::nullopt;
  }
  return signature;
}

SignatureCheck verifySignature(const MinisignPublicKey& key, const MinisignSignature& signature,
                               std::span<const std::uint8_t> message) {
  const bool good = signature.prehashed
                        ? ed25519Verify(key.key, blake2b512Digest(message), signature.signature)
                        : ed25519Verify(key.key, message, signature.signature);
  if (!good) {
    return SignatureCheck::BadSignature;
  }
  if (!ed25519Verify(key.key, globalMessage(signature), signature.globalSignature)) {
    return SignatureCheck::BadTrustedComment;
  }
  return SignatureCheck::Good;
}

}  // namespace orvik
