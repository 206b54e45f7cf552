#include "commands/cmd_sn.h"

#include <span>

#include "exec/radio_info.h"
#include "link/tovr.h"

namespace orvik {
namespace {

constexpr std::uint8_t kSoftReset = 0;
constexpr std::uint8_t kTovrTestMode = 1;

// The test mode, serial number and factory backup requests write their failure line when the
// radio answers with anything but its acceptance, even though the answer itself came through;
// such an answer fails the run too, so that no success is reported over a failure line.
bool accepted(int result, std::uint8_t opcode) {
  return result >= 0 && opcode == TOVR::kAccepted;
}

}  // namespace

CmdSN::CmdSN() {
  resultFlag = true;
}

void CmdSN::reportProgress(unsigned done, unsigned total) {
  sendScaledProgress(done, total);
}

bool CmdSN::execute() {
  resultFlag = true;
  notifyStarted();
  if (radioInfo == nullptr) {
    resultFlag = false;
    notifyFinished();
    return resultFlag;
  }
  TOVR& tovr = radioInfo->engine();
  Clock& clock = radioInfo->clock();
  std::array<std::uint8_t, TOVR::kReceiveBufferSize> answer{};
  std::uint8_t opcode = 0;

  // Without a connection the engine refuses the reset without an exchange.
  if (!radioInfo->connected) {
    resultFlag = false;
  }
  const int reset = tovr.resetDevice(kSoftReset, opcode, answer);
  // The buffer starts cleared, so a status shorter than two bytes reads as no refusal.
  if (reset < 0 || (answer[1] & kResetRefusedBit) != 0) {
    resultFlag = false;
  }
  clock.sleep(kAfterFirstReset);

  if (resultFlag) {
    int result = tovr.requestTestMode(kTovrTestMode, 0, 0, opcode, answer);
    if (!accepted(result, opcode)) {
      resultFlag = false;
    }
    clock.sleep(kAfterStep);

    if (resultFlag) {
      // The radio's serial number is at most 11 bytes; a length beyond that (only the low
      // 8 bits count) is refused like the engine refuses it, without reading past the number.
      const std::size_t length = static_cast<std::uint8_t>(radioInfo->serialLength);
      result = -1;
      if (length > 0 && length <= RadioInfo::kSerialSize) {
        result = tovr.updateSerialNumber(std::span(newSerialNumber).first(length), opcode, answer);
      }
      if (!accepted(result, opcode)) {
        resultFlag = false;
      }
    }
    clock.sleep(kAfterStep);

    if (resultFlag) {
      result = tovr.backupFactoryBlock(opcode, answer);
      if (!accepted(result, opcode)) {
        resultFlag = false;
      }
    }
    clock.sleep(kAfterStep);

    if (resultFlag && tovr.resetDevice(kSoftReset, opcode, answer) < 0) {
      resultFlag = false;
    }
  }

  notifyFinished();
  return resultFlag;
}

}  // namespace orvik
