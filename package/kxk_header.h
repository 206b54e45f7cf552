#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace orvik {

// The header of a container as the catalogue needs it: no digest check, no descrambling.
struct KxkHeaderInfo {
  std::int32_t type = 0;
  // The payload length less the type prefix.
  std::uint32_t payloadLength = 0;
  std::uint8_t internalNameLength = 0;
  std::string internalName;          // UTF-8 from the Latin-1 name bytes
  std::uint32_t prefixNumber = 0;    // types 0, 1 and 2, little-endian
  std::uint8_t modelNameLength = 0;  // type 0, at most 11
  std::string modelName;             // type 0: the first 11 raw name bytes at most
  std::string regionName;            // type 3: UTF-8, the first 10 characters at most
};

// The most bytes a header with its prefix can take: the fixed part, a 255-byte name and a
// type 0 prefix with a 255-byte model name.
inline constexpr std::size_t kKxkMaxHeaderBytes = 34 + 255 + 5 + 255;
inline constexpr std::size_t kKxkHeaderModelName = 11;

// Reads and checks a container's header. Without a record (nullptr) only the first 34 bytes
// must be readable. On failure one categorised line is in the error text and the record may
// be partly filled.
bool readKxkHeader(const std::filesystem::path& path, KxkHeaderInfo* info);

// The same over the first bytes of a file (at most kKxkMaxHeaderBytes are looked at).
bool readKxkHeader(std::span<const std::uint8_t> bytes, const std::string& displayName,
                   KxkHeaderInfo* info);

}  // namespace orvik
