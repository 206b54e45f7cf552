#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orvik {

// TOVR framing as pure functions over bytes: building frames and recognising a response.
// No I/O here; the transport feeds the parser byte by byte.

inline constexpr std::uint8_t kAcknowledge = 0x50;
inline constexpr std::uint8_t kLongFrameStart = 0xFF;
inline constexpr std::uint8_t kShortFrameStart = 0xF0;
// What the engine reports as the response opcode when the first byte is not the
// acknowledgement; the radio never sends it.
inline constexpr std::uint8_t kNoAcknowledgeOpcode = 0x60;
// Request opcodes.
inline constexpr std::uint8_t kResetRequest = 0x10;
inline constexpr std::uint8_t kMemReadRequest = 0x11;
inline constexpr std::uint8_t kMemWriteRequest = 0x17;
inline constexpr std::uint8_t kSerialNumberRequest = 0x18;
inline constexpr std::uint8_t kParameterReadRequest = 0x20;
inline constexpr std::uint8_t kTestModeRequest = 0x22;
inline constexpr std::uint8_t kQueryRequest = 0x23;
inline constexpr std::uint8_t kFlashModeFollowUpRequest = 0x24;
inline constexpr std::uint8_t kParameterWriteRequest = 0x38;
inline constexpr std::uint8_t kFlashRequest = 0x72;
inline constexpr std::uint8_t kContactRequest = 0x9B;

// Parameter (softpot) types with a meaning of their own.
inline constexpr std::uint8_t kBaudRateParameter = 0x2A;
inline constexpr std::uint8_t kResetAllBlocksParameter = 0x2E;

// A short frame counts at most 14 bytes after its opcode, so it carries at most 13 payload
// bytes.
inline constexpr std::size_t kMaxShortPayload = 13;

// 0xFF minus the low eight bits of the sum of the bytes.
std::uint8_t checksum(std::span<const std::uint8_t> bytes);

// FF, opcode, length (payload + checksum) as 16 bits, payload, checksum.
std::vector<std::uint8_t> longFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload);
// F0 + (payload + checksum), opcode, payload, checksum; the payload is at most 13 bytes.
std::vector<std::uint8_t> shortFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload);

// Responses with these opcodes carry a 32-bit address before their data.
bool opcodeCarriesAddress(std::uint8_t opcode);

// The opcode of a request: its second byte when the first is a frame start, otherwise the
// high four bits of the first byte.
std::uint8_t requestOpcode(std::span<const std::uint8_t> request);

// Recognises one response: the acknowledgement, skipped bytes, then one long or short frame.
// Data bytes go to the caller's buffer; a frame with more data than that buffer holds is
// refused rather than written past it.
class ResponseParser {
 public:
  enum class State {
    Acknowledge,
    Hunt,
    LongOpcode,
    LengthHigh,
    LengthLow,
    ShortOpcode,
    Address,
    Data,
    Checksum,
    Done,
    Failed,
  };
  enum class Failure { None, NoAcknowledge, BadChecksum, Malformed, DataOverflow };

  explicit ResponseParser(std::span<std::uint8_t> dataOut) : dataOut_(dataOut) {}

  State feed(std::uint8_t byte);

  State state() const { return state_; }
  bool finished() const { return state_ == State::Done || state_ == State::Failed; }
  Failure failure() const { return failure_; }
  // True while the acknowledgement or the frame start is awaited.
  bool awaitingFrameStart() const { return state_ == State::Acknowledge || state_ == State::Hunt; }
  // True when the byte just fed was skipped junk or the opcode: the transport then goes
  // back to its full patience for the bytes that follow.
  bool restoresTrials() const { return restoresTrials_; }

  // 0 until a frame's opcode arrives; kNoAcknowledgeOpcode after a missing acknowledgement.
  std::uint8_t opcode() const { return opcode_; }
  std::uint32_t address() const { return address_; }
  std::size_t dataCount() const { return dataCount_; }

 private:
  State fail(Failure failure) {
    failure_ = failure;
    return state_ = State::Failed;
  }
  // The state after the opcode or the length, from the bytes that remain.
  State afterHeader();

  std::span<std::uint8_t> dataOut_;
  State state_ = State::Acknowledge;
  Failure failure_ = Failure::None;
  bool restoresTrials_ = false;
  std::uint8_t opcode_ = 0;
  std::uint32_t address_ = 0;
  int addressBytes_ = 0;
  std::size_t remaining_ = 0;
  std::size_t dataCount_ = 0;
  unsigned sum_ = 0;
};

}  // namespace orvik
