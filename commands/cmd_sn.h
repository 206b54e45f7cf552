#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "exec/command.h"

namespace orvik {

// Writes a new serial number into the connected radio and has the radio back up its factory
// block afterwards. Adds no lines of its own to the error text: after a failure the lines are
// those of the radio operation that failed.
class CmdSN : public Command {
 public:
  // The radio needs these pauses to settle after each step.
  static constexpr std::chrono::milliseconds kAfterFirstReset{3000};
  static constexpr std::chrono::milliseconds kAfterStep{1000};
  // The radio refuses the serial number when the first reset's status has this bit in its
  // second byte.
  static constexpr std::uint8_t kResetRefusedBit = 0x02;

  CmdSN();

  bool execute() override;
  void reportProgress(unsigned done, unsigned total) override;

  // The new number in 8-bit characters; the first radioInfo->serialLength bytes are sent.
  std::array<std::uint8_t, 12> newSerialNumber{};
};

}  // namespace orvik
