#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace orvik {

// Layout of a package container ("KXK" file): signature, MD5 of everything from the version
// on, version, type, payload length, internal name, then the payload.
inline constexpr std::array<std::uint8_t, 8> kKxkSignature = {'K', 'X', 'K', 0, 0, 0, 0, 0};
inline constexpr std::size_t kKxkDigestOffset = 8;
inline constexpr std::size_t kKxkDigestedFrom = 24;
inline constexpr std::size_t kKxkVersionOffset = 24;
inline constexpr std::size_t kKxkTypeOffset = 28;
inline constexpr std::size_t kKxkPayloadLengthOffset = 29;
inline constexpr std::size_t kKxkNameLengthOffset = 33;
inline constexpr std::size_t kKxkHeaderSize = 34;

// The largest container file the readers take: a 2 MiB firmware image with its header, its
// name and its type prefix, and room to spare.
inline constexpr std::size_t kMaxKxkFileSize = 0x200000 + 0x1000;

// Longest names the full reader accepts in the type prefixes.
inline constexpr std::size_t kKxkMaxModelName = 20;
inline constexpr std::size_t kKxkMaxRegionName = 10;

// The container types; the prefix at the start of the payload depends on them.
enum KxkType : std::int32_t {
  kKxkModelBlock = 0,    // model number (4 bytes) and model name (length byte + bytes)
  kKxkCodeplugFile = 1,  // codeplug version (4 bytes)
  kKxkCodeplugFile2 = 2,
  kKxkRegionFile = 3,  // region name (length byte + bytes)
};

// The body is XORed with the first three signature bytes; the same call scrambles and
// descrambles.
void scrambleKxkBody(std::span<std::uint8_t> body);

// A loaded, verified and descrambled container. One object serves many loads: its buffer is
// resized, not reallocated, between them.
struct KxkFile {
  // The descrambled body after the type prefix.
  std::vector<std::uint8_t> payload;
  std::string versionText;   // letter, major and minor: "R01.03"
  std::string internalName;  // UTF-8 from the Latin-1 name bytes
  std::int32_t type = 0;
  // Bytes 24 to 27 as a little-endian number, or the prefix number of types 1 and 2.
  std::uint32_t versionWord = 0;
  std::uint32_t modelNumber = 0;  // type 0
  std::string modelName;          // type 0: the raw name bytes, at most 20
  std::string regionName;         // type 3: UTF-8, at most 10 characters

  std::uint32_t payloadLength() const { return static_cast<std::uint32_t>(payload.size()); }
};

// Reads, verifies and descrambles a container file. On failure the object is emptied, one
// categorised line is in the error text and the result is false; an empty path fails
// without a line.
bool loadKxkFile(const std::filesystem::path& path, KxkFile& file);

// The same over bytes already in memory; displayName stands for the path in the messages.
bool loadKxkFile(std::span<const std::uint8_t> bytes, const std::string& displayName,
                 KxkFile& file);

}  // namespace orvik
