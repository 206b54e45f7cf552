// Feeds arbitrary bytes to the TOVR engine as what the radio answers. The first input byte
// picks the operation and whether the cable echoes; the rest is everything the cable delivers.
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <span>

#include "base/clock.h"
#include "errors/error_text.h"
#include "link/tovr.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/stub_cable_driver.h"

namespace {

using namespace orvik;
using fuzzing::check;

class FuzzCable : public orvik::testing::StubCableDriver {
 public:
  FuzzCable(std::span<const std::uint8_t> bytes, bool echo, VirtualClock& clock)
      : incoming_(bytes.begin(), bytes.end()), echo_(echo), clock_(clock) {}

  FT_STATUS setTimeouts(FT_HANDLE, std::uint32_t readMs, std::uint32_t) override {
    readTimeout_ = readMs;
    return FT_OK;
  }
  // The fuzz input is the whole conversation: purging (the stub's) does not throw any of it
  // away.
  FT_STATUS read(FT_HANDLE, std::uint8_t* buffer, std::uint32_t toRead,
                 std::uint32_t& received) override {
    received = 0;
    while (received < toRead && !incoming_.empty()) {
      buffer[received++] = incoming_.front();
      incoming_.pop_front();
    }
    if (received < toRead) {
      clock_.advance(std::chrono::milliseconds(readTimeout_));
    }
    return FT_OK;
  }
  FT_STATUS write(FT_HANDLE, const std::uint8_t* buffer, std::uint32_t toWrite,
                  std::uint32_t& written) override {
    if (echo_) {
      incoming_.insert(incoming_.begin(), buffer, buffer + toWrite);
    }
    written = toWrite;
    return FT_OK;
  }

 private:
  std::deque<std::uint8_t> incoming_;
  bool echo_;
  VirtualClock& clock_;
  std::uint32_t readTimeout_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::uint8_t selector = bytes[0];
  VirtualClock clock;
  FuzzCable cable(std::span(bytes + 1, size - 1), (selector & 0x80) != 0, clock);
  USBSerial port(cable, clock);
  TOVR tovr(port);
  port.open(0);
  if (selector & 0x40) {
    port.setBaudRate(TOVR::kProbeBaudRate);
    tovr.probeCableMode();
  }
  std::array<std::uint8_t, 64> small{};
  std::array<std::uint8_t, TOVR::kReceiveBufferSize> data{};
  std::uint32_t address = 0x820000;
  std::uint8_t opcode = 0;
  int result = -1;
  switch (selector & 0x0F) {
    case 0:
      result = tovr.memRead(220, address, opcode, data);
      break;
    case 1:
      result = tovr.statusQuery(0, opcode, small);
      check(result <= static_cast<int>(small.size()));
      break;
    case 2:
      result = tovr.resetDevice(1, opcode, data);
      break;
    case 3:
      result = tovr.contactCommand(0x30, std::array<std::uint8_t, 3>{0, 0, 0}, opcode, data);
      break;
    case 4:
      result = tovr.contactRestore(opcode, small);
      break;
    case 5:
      result = tovr.radioBaudSwitch(0, opcode, data);
      break;
    case 6: {
      std::array<std::uint8_t, 4096> piece{};
      result = tovr.writeFlash(piece, address, opcode, data);
      break;
    }
    case 7:
      result = tovr.softpotRead(opcode, small);
      break;
    default: {
      const std::array<std::uint8_t, 6> request{0xF4, 0x22, 0x08, 0x00, 0x00, 0xE1};
      result = tovr.exchange(request, address, opcode, small);
      check(result <= static_cast<int>(small.size()));
      break;
    }
  }
  check(result <= static_cast<int>(data.size()));
  check(tovr.received().size() <= TOVR::kReceiveBufferSize);
  check(tovr.trials() == TOVR::kDefaultTrials);
  removeErrors(ErrorCategory::OK);
  return 0;
}
