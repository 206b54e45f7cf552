#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace orvik {

// The configuration and setup files are XML XORed with this repeating key.
inline constexpr std::array<std::uint8_t, 4> kScrambleKey = {'Q', 'Z', 'V', 'K'};

// XORs byte i with key byte i mod 4; the same call scrambles and unscrambles. The tool and
// orvik-pack share it, so what one writes the other reads.
void Scramble(std::span<std::uint8_t> bytes);

}  // namespace orvik
