#include "config/scramble.h"

namespace orvik {

void Scramble(std::span<std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] ^= kScrambleKey[i % kScrambleKey.size()];
  }
}

}  // namespace orvik
