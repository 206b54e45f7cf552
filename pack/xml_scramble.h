#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace orvik {

// The configuration and setup files are XML XORed with this repeating key; the same call
// scrambles and unscrambles.
inline constexpr std::array<std::uint8_t, 4> kXmlKey = {'Q', 'Z', 'V', 'K'};

inline void scrambleXml(std::span<std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] ^= kXmlKey[i % kXmlKey.size()];
  }
}

}  // namespace orvik
