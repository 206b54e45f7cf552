#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "link/tovr.h"
#include "tests/support/error_text_fixture.h"
#include "tests/support/scripted_cable_driver.h"

namespace orvik::testing {

// An open port on the scripted cable with an engine on it. Each request written gets the next
// queued answer (or silence when none is left).
class TovrTest : public ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    driver.responder = [this](std::span<const std::uint8_t>) {
      if (!answers.empty()) {
        driver.arrive(answers.front());
        answers.pop_front();
      }
    };
    ASSERT_TRUE(port.open(0));
    requestsBefore = 0;
  }

  // Public so that tables of cases can drive the fixture through lambdas.
 public:
  void answer(std::vector<std::uint8_t> bytes) { answers.push_back(std::move(bytes)); }
  // Acknowledgement, then a frame with a valid checksum.
  void answerShort(std::uint8_t opcode, std::vector<std::uint8_t> payload);
  void answerLong(std::uint8_t opcode, std::vector<std::uint8_t> payload);
  // Every request written so far, split by the writes that carried them.
  std::vector<std::uint8_t> written() const { return driver.written; }
  int writes() const { return driver.count(ScriptedCableDriver::Call::Write); }

  VirtualClock clock;
  ScriptedCableDriver driver{clock};
  USBSerial port{driver, clock};
  TOVR tovr{port};
  std::deque<std::vector<std::uint8_t>> answers;
  std::array<std::uint8_t, TOVR::kReceiveBufferSize> data{};
  std::uint32_t address = 0;
  std::uint8_t opcode = 0;
  int requestsBefore = 0;
};

}  // namespace orvik::testing
