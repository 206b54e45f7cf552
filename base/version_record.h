#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace orvik {

// A version as radios and package files hold it: a letter code and three numbers.
using VersionRecord = std::array<std::uint8_t, 4>;

// "R01.02.03" -> 'R',1,2,3: a letter, then three numbers of 0 to 255 separated by dots.
std::optional<VersionRecord> parseVersionRecord(std::string_view text);

}  // namespace orvik
