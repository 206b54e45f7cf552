#include <algorithm>
#include <vector>

#include "base/byte_reader.h"
#include "errors/error_text.h"
#include "link/tovr.h"
#include "link/tovr_frame.h"

namespace orvik {
namespace {

constexpr std::uint8_t kContactReadSubCode = 0x30;
constexpr std::uint8_t kContactWriteSubCode = 0x31;
constexpr std::uint8_t kContactWriteAnswered = 0x50;
constexpr std::uint8_t kContactReadAnswered = 0x8C;
constexpr int kMemWriteAttempts = 5;
// A contact request frame may not be longer than this many bytes, whatever else holds.
constexpr std::size_t kMaxContactFrame = 512;
constexpr std::array<std::uint8_t, 3> kBootloadFrame{0xA1, 0x00, 0x5E};
constexpr std::array<std::uint8_t, 4> kLinkBaudValue{0x00, 0x00, 0xE1, 0x00};  // 57600

void put24(ByteWriter& w, std::uint32_t address) {
  w.be24(address & 0xFFFFFF);
}

// A long request frame around the payload the writer holds.
std::vector<std::uint8_t> longRequest(std::uint8_t opcode, ByteWriter& payload) {
  return longFrame(opcode, payload.take());
}

bool nonNegative(int result, std::uint8_t) {
  return result >= 0;
}
bool positive(int result, std::uint8_t) {
  return result > 0;
}
auto nonNegativeWith(std::uint8_t expected) {
  return [expected](int result, std::uint8_t opcode) { return result >= 0 && opcode == expected; };
}

}  // namespace

int TOVR::retry(const RetryRule& rule, const std::function<int()>& attempt, std::uint8_t& opcode) {
  int result = -1;
  for (int i = 0; i < rule.attempts; ++i) {
    result = attempt();
    if (rule.success(result, opcode) || (rule.stop && rule.stop(result, opcode))) {
      break;
    }
    if (i + 1 < rule.attempts) {
      // Port-level lines of an attempt that a later attempt may make good do not stay.
      removeErrors(ErrorCategory::PROT);
    }
  }
  return result;
}

int TOVR::retryExchange(std::span<const std::uint8_t> request, const RetryRule& rule,
                        std::uint32_t& address, std::uint8_t& opcode,
                        std::span<std::uint8_t> answer) {
  return retry(
      rule, [&] { return exchange(request, address, opcode, answer); }, opcode);
}

int TOVR::retryExchange(std::span<const std::uint8_t> request, const RetryRule& rule,
                        std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  // The radio's answers to these requests carry no address worth keeping.
  std::uint32_t address = 0;
  return retryExchange(request, rule, address, opcode, answer);
}

int TOVR::memRead(int length, std::uint32_t& address, std::uint8_t& opcode,
                  std::span<std::uint8_t> answer) {
  if (!port_.usable() || length < 0 || length > maxDataLength_) {
    return -1;
  }
  ByteWriter w;
  w.u8(static_cast<std::uint8_t>(length));
  put24(w, address);
  const std::vector<std::uint8_t> request = longRequest(kMemReadRequest, w);
  // Any answer with data used to pass, and the caller then went on from whatever address it
  // carried: a refusal, an answer to another address or a short piece is a failed attempt.
  const std::uint32_t requested = address;
  const auto answered = [&](int result, std::uint8_t op) {
    return memReadAnswered(length, requested, result, op, address);
  };
  const int result = retryExchange(request, {trials_, answered, nullptr}, address, opcode, answer);
  if (!answered(result, opcode)) {
    appendError(ErrorCategory::TOVR,
                "Error:failed to do memRead after %d trials. Address is %d, length is %d, the "
                "status is %d, the last OPC is %d.",
                trials_, static_cast<int>(address), length, result, opcode);
  }
  return result;
}

bool TOVR::memReadAnswered(int length, std::uint32_t requested, int result, std::uint8_t opcode,
                           std::uint32_t echoed) {
  return result > 0 && result == length && opcode == kMemoryRead && echoed == requested;
}

int TOVR::memWrite(std::span<const std::uint8_t> data, std::uint32_t& address, std::uint8_t& opcode,
                   std::span<std::uint8_t> answer) {
  if (!port_.usable() || data.empty() || data.size() > static_cast<std::size_t>(maxDataLength_)) {
    return -1;
  }
  const auto n = static_cast<std::uint8_t>(data.size());
  ByteWriter w;
  w.u8(0x01);
  put24(w, address);
  w.append(data);
  const std::vector<std::uint8_t> request = longRequest(kMemWriteRequest, w);
  const auto accepted = nonNegativeWith(kMemoryWritten);
  // An answer of another kind is not something a repetition would change.
  const int result =
      retryExchange(request, {kMemWriteAttempts, accepted, nonNegative}, address, opcode, answer);
  if (!accepted(result, opcode)) {
    appendError(ErrorCategory::TOVR,
                "Error:failed to do memWrite after %d trials. Address is %d, length is %d, the "
                "status is %d, the last OPC is %d.",
                kMemWriteAttempts, static_cast<int>(address), static_cast<int>(n), result, opcode);
  }
  return result;
}

int TOVR::resetDevice(std::uint8_t type, std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  const std::array<std::uint8_t, 1> payload{type};
  const std::vector<std::uint8_t> request = longFrame(kResetRequest, payload);
  const int result = retryExchange(request, {trials_, nonNegative, nullptr}, opcode, answer);
  if (result < 0) {
    appendError(ErrorCategory::TOVR,
                "Error:failed to reset device after %d trials. Reset type is %d, the status is %d, "
                "the last OPC is %d.",
                trials_, type, result, opcode);
  }
  return result;
}

int TOVR::requestTestMode(std::uint8_t type, std::uint8_t p0, std::uint8_t p1, std::uint8_t& opcode,
                          std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  const std::array<std::uint8_t, 3> payload{type, p0, p1};
  const std::vector<std::uint8_t> request = shortFrame(kTestModeRequest, payload);
  const int result =
      retryExchange(request, {trials_, nonNegativeWith(kAccepted), nullptr}, opcode, answer);
  if (opcode != kAccepted) {
    appendError(ErrorCategory::TOVR,
                "Error:failed to request for test mode after %d trials. Test mode type is %d, the "
                "status is %d, the last OPC is %d.",
                trials_, type, result, opcode);
  }
  return result;
}

int TOVR::softpotWrite(std::uint8_t type, std::uint8_t index, std::span<const std::uint8_t> value,
                       std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  constexpr std::size_t kMaxValue = 250;
  if (!port_.usable() || value.size() > kMaxValue) {
    return -1;
  }
  ByteWriter w;
  w.u8(type).u8(0x00).u8(0x00).u8(index).append(value);
  const std::vector<std::uint8_t> request = longRequest(kParameterWriteRequest, w);
  const int result =
      retryExchange(request, {trials_, nonNegativeWith(kAccepted), nullptr}, opcode, answer);
  if (opcode != kAccepted) {
    appendError(ErrorCategory::TOVR,
                "Error:failed to do softport write after %d trials. Softpot type is %d, the status "
                "is %d, the last OPC is %d.",
                trials_, type, result, opcode);
  }
  return result;
}

int TOVR::softpotRead(std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  const std::array<std::uint8_t, 3> payload{0x31, 0x00, 0x00};
  const std::vector<std::uint8_t> request = longFrame(kParameterReadRequest, payload);
  const auto answered = [](int result, std::uint8_t op) {
    return result > 0 && op == kParameterRead;
  };
  const int result = retryExchange(request, {trials_, answered, nullptr}, opcode, answer);
  if (opcode != kParameterRead) {
    appendError(ErrorCategory::TOVR, "Error:failed to do softport read.");
  }
  return result;
}

int TOVR::statusQuery(std::uint8_t type, std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  const std::array<std::uint8_t, 1> payload{type};
  const std::vector<std::uint8_t> request = shortFrame(kQueryRequest, payload);
  return retryExchange(request, {trials_, positive, nullptr}, opcode, answer);
}

int TOVR::bootloadRequest() {
  if (!port_.usable()) {
    return -1;
  }
  std::uint8_t unused = 0;
  return retry(
      {trials_, positive, nullptr}, [&] { return sendOnly(kBootloadFrame); }, unused);
}

int TOVR::radioBaudSwitch(std::uint8_t index, std::uint8_t& opcode,
                          std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  if (port_.baudRate() == kLinkBaudRate) {
    return 0;
  }
  const int result = retry(
      {trials_, nonNegative, nullptr},
      [&] { return softpotWrite(kBaudRateParameter, index, kLinkBaudValue, opcode, answer); },
      opcode);
  if (result < 0) {
    return result;
  }
  // The radio has switched; follow it.
  return port_.setBaudRate(kLinkBaudRate) ? result : -1;
}

int TOVR::updateSerialNumber(std::span<const std::uint8_t> serial, std::uint8_t& opcode,
                             std::span<std::uint8_t> answer) {
  constexpr std::size_t kMaxSerial = 11;
  if (!port_.usable() || serial.empty() || serial.size() > kMaxSerial) {
    return -1;
  }
  std::vector<std::uint8_t> payload{0x01, 0x01};
  payload.insert(payload.end(), serial.begin(), serial.end());
  const std::vector<std::uint8_t> request = shortFrame(kSerialNumberRequest, payload);
  const int result = retryExchange(request, {trials_, nonNegative, nullptr}, opcode, answer);
  if (opcode != kAccepted) {
    appendError(ErrorCategory::TOVR, "Error:failed to request to update SN.");
  }
  return result;
}

int TOVR::setProtectionMode(std::uint16_t mode, std::uint8_t& opcode,
                            std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  const std::array<std::uint8_t, 4> payload{0x08, 0x00, static_cast<std::uint8_t>(mode >> 8),
                                            static_cast<std::uint8_t>(mode)};
  const std::vector<std::uint8_t> request = shortFrame(kFlashRequest, payload);
  const int result =
      retryExchange(request, {trials_, nonNegativeWith(kFlashAccepted), nullptr}, opcode, answer);
  if (opcode != kFlashAccepted) {
    appendError(ErrorCategory::TOVR,
                "Error:failed to request for protection model after %d trials. Mode type is %d, "
                "the status is %d, the last OPC is %d.",
                trials_, mode, result, opcode);
  }
  return result;
}

int TOVR::eraseFlash(std::uint8_t type, std::uint32_t& address, std::uint8_t& opcode,
                     std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  ByteWriter w;
  w.u8(type);
  put24(w, address);
  const std::vector<std::uint8_t> request = longRequest(kFlashRequest, w);
  const int result = retryExchange(request, {trials_, nonNegativeWith(kFlashAccepted), nullptr},
                                   address, opcode, answer);
  if (opcode != kFlashAccepted) {
    appendError(ErrorCategory::TOVR,
                "Error:failed to request for erase falsh after %d trials. Erase type is %d, the "
                "address is %d, the status is %d, the last OPC is %d.",
                trials_, type, static_cast<int>(address), result, opcode);
  }
  return result;
}

int TOVR::writeFlash(std::span<const std::uint8_t> data, std::uint32_t& address,
                     std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  // No usable-port check of its own: on a closed port every attempt fails and the line says so.
  const std::size_t n = std::min(data.size(), kMaxFlashPiece);
  ByteWriter w;
  w.u8(0x01);
  put24(w, address);
  w.append(data.first(n));
  const std::vector<std::uint8_t> request = longRequest(kFlashRequest, w);
  const auto accepted = nonNegativeWith(kFlashAccepted);
  const int result = retryExchange(request, {trials_, accepted, nullptr}, address, opcode, answer);
  if (!accepted(result, opcode)) {
    appendError(ErrorCategory::TOVR,
                "Error:failed to request to write flash with %d bytes after %d trials. The address "
                "is %d, the status is %d, the last OPC is %d.",
                static_cast<int>(request.size()), trials_, static_cast<int>(address), result,
                opcode);
  }
  return result;
}

int TOVR::backupFactoryBlock(std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  const std::array<std::uint8_t, 4> payload{0x26, 0x00, 0x00, 0x00};
  const std::vector<std::uint8_t> request = shortFrame(kParameterWriteRequest, payload);
  opcode = kNoAcknowledgeOpcode;
  const int result =
      retryExchange(request, {trials_, nonNegativeWith(kAccepted), nullptr}, opcode, answer);
  if (opcode != kAccepted) {
    appendError(ErrorCategory::TOVR, "Error:failed to request to do factory block backup.");
  }
  return result;
}

int TOVR::contactCommand(std::uint8_t subCode, std::span<const std::uint8_t> data,
                         std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  if (!port_.usable() || data.data() == nullptr || answer.empty()) {
    return -1;
  }
  const std::size_t n = data.size();
  const bool shortForm = n + 2 < 15;
  const std::size_t frameLength = shortForm ? n + 4 : n + 6;
  if (n + 6 > kMaxContactFrame || frameLength > static_cast<std::size_t>(maxDataLength_)) {
    return -1;
  }
  std::vector<std::uint8_t> payload{subCode};
  payload.insert(payload.end(), data.begin(), data.end());
  const std::vector<std::uint8_t> request =
      shortForm ? shortFrame(kContactRequest, payload) : longFrame(kContactRequest, payload);
  const auto answered = [&](int result, std::uint8_t op) {
    if (result <= 0 || op != kContactAnswered) {
      return false;
    }
    if (subCode == kContactWriteSubCode) {
      return answer[0] == kContactWriteAnswered;
    }
    if (subCode == kContactReadSubCode) {
      return answer[0] == kContactReadAnswered;
    }
    return true;
  };
  return retryExchange(request, {trials_, answered, nullptr}, opcode, answer);
}

int TOVR::contactRestore(std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  const std::array<std::uint8_t, 1> payload{0x36};
  const std::vector<std::uint8_t> request = shortFrame(kContactRequest, payload);
  const int result = retryExchange(request, {trials_, positive, nullptr}, opcode, answer);
  if (result < 0) {
    return -1;
  }
  if (result == 0) {
    return -2;
  }
  if (opcode != kContactAnswered || answer.empty() || answer[0] != kContactWriteAnswered) {
    return -3;
  }
  return result;
}

int TOVR::flashModeFollowUp(std::uint8_t& opcode, std::span<std::uint8_t> answer) {
  if (!port_.usable()) {
    return -1;
  }
  const std::array<std::uint8_t, 2> payload{0x02, 0x00};
  const std::vector<std::uint8_t> request = shortFrame(kFlashModeFollowUpRequest, payload);
  return retryExchange(request, {trials_, nonNegative, nullptr}, opcode, answer);
}

}  // namespace orvik
