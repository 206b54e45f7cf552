#include "tests/link/tovr_test_support.h"

#include "link/tovr_frame.h"

namespace orvik::testing {

void TovrTest::answerShort(std::uint8_t opcode, std::vector<std::uint8_t> payload) {
  std::vector<std::uint8_t> bytes{kAcknowledge};
  const auto frame = shortFrame(opcode, payload);
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  answer(std::move(bytes));
}

void TovrTest::answerLong(std::uint8_t opcode, std::vector<std::uint8_t> payload) {
  std::vector<std::uint8_t> bytes{kAcknowledge};
  const auto frame = longFrame(opcode, payload);
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  answer(std::move(bytes));
}

}  // namespace orvik::testing
