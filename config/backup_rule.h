#pragma once

#include <cstdint>
#include <set>
#include <string_view>

namespace orvik {

// Where one block of the radio's personality lives, and for which codeplug major numbers.
struct BackupRule {
  std::int32_t address = 0;
  std::int32_t length = 0;
  // The rule applies when the radio's number is in fromVersions and the tool's number in
  // toVersions; an empty set takes every number.
  std::set<std::uint8_t> fromVersions;
  std::set<std::uint8_t> toVersions;

  bool appliesTo(std::uint8_t radioVersion, std::uint8_t toolVersion) const {
    return (fromVersions.empty() || fromVersions.contains(radioVersion)) &&
           (toVersions.empty() || toVersions.contains(toolVersion));
  }
};

// Block types that a backup rule can name; any other name is skipped.
inline constexpr std::int32_t kBackupTypeDyn = 0;
inline constexpr std::int32_t kBackupTypeCon = 2;

// "DYN" and "CON", in any letter case, give their type; anything else -1.
std::int32_t backupBlockType(std::string_view name);

// A list such as "3^4^7": each item a decimal integer (leading white space and a sign
// allowed, reading stops at the first other character, so "x" reads as 0), of which the low
// 8 bits go into the set. Empty items, as in "1^^2" or an empty text, add nothing.
std::set<std::uint8_t> parseVersionSet(std::string_view text);

// A hexadecimal address or length: leading white space, a sign and a 0x prefix allowed,
// reading stops at the first non-hex character; values beyond 32 bits stop at the limits of
// a signed 32-bit number; an empty text reads as 0.
std::int32_t parseHexNumber(std::string_view text);

}  // namespace orvik
