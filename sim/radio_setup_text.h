#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/sim_radio.h"

namespace orvik {

// Turns the texts a person types into radio state: the reverse of what the identity read
// shows.

// "LA26CKN9AR1" -> 'L','A',2,6,...: digits become their values, letters stay ASCII. 1 to 11
// letters or digits; a shorter model is padded with spaces, which end the display text.
std::optional<std::array<std::uint8_t, 11>> modelFromText(std::string_view text);

// 1 to 11 characters of 8 bits.
std::optional<std::vector<std::uint8_t>> serialFromText(std::string_view text);

// count demo contact records, their list kinds going round 1, 2, 3, 4.
std::vector<std::vector<std::uint8_t>> demoContacts(int count);

}  // namespace orvik
