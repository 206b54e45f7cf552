#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvik {

// The numbers of a version text such as R01.02.03; the letter is not part of them.
struct VersionTriple {
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  std::uint8_t patch = 0;
  bool operator==(const VersionTriple&) const = default;
};

// One letter, two digits, ".", two digits, ".", two digits, and nothing after: R01.02.03
// gives 1, 2, 3. A last field of one digit is accepted (R01.02.3), since configurations
// written by hand have used it; anything else fails.
std::optional<VersionTriple> parseVersion(std::string_view text);

// 1 when a is newer, -1 when older, 0 when equal: major, then minor, then patch.
int compareVersions(const VersionTriple& a, const VersionTriple& b);

std::string upperCase(std::string_view text);

// The last version of each family in a list (even minor numbers: the new family; odd: the old
// one) and the last version that parsed; the first text that does not parse ends the list.
struct VersionFamilies {
  std::string newVersion;
  std::string oldVersion;
  std::optional<VersionTriple> lastParsed;
};

// Takes the list from next(version) until it returns false.
template <typename Next>
VersionFamilies pickFamilies(Next next) {
  VersionFamilies families;
  std::string version;
  bool ended = false;
  while (next(version)) {
    if (ended) {
      continue;  // let the cursor run to its end so the next pass starts afresh
    }
    const std::optional<VersionTriple> triple = parseVersion(version);
    if (!triple) {
      ended = true;
      continue;
    }
    families.lastParsed = triple;
    (triple->minor % 2 == 0 ? families.newVersion : families.oldVersion) = version;
  }
  return families;
}

// The dealer's rule for a typed serial number, for a radio whose number has this many
// characters; characters after the last checked position are not looked at.
bool serialNumberAllowed(std::string_view text, std::int32_t serialLength);

}  // namespace orvik
