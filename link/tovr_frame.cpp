#include "link/tovr_frame.h"

#include <cassert>

namespace orvik {

std::uint8_t checksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) {
    sum += b;
  }
  return static_cast<std::uint8_t>(0xFF - (sum & 0xFF));
}

std::vector<std::uint8_t> longFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload) {
  const std::size_t length = payload.size() + 1;
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + 5);
  frame.push_back(kLongFrameStart);
  frame.push_back(opcode);
  frame.push_back(static_cast<std::uint8_t>(length >> 8));
  frame.push_back(static_cast<std::uint8_t>(length));
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(checksum(frame));
  return frame;
}

std::vector<std::uint8_t> shortFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload) {
  assert(payload.size() <= kMaxShortPayload);
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + 3);
  frame.push_back(static_cast<std::uint8_t>(kShortFrameStart + payload.size() + 1));
  frame.push_back(opcode);
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(checksum(frame));
  return frame;
}

bool opcodeCarriesAddress(std::uint8_t opcode) {
  return opcode == 0x80 || opcode == 0x84 || opcode == 0x85;
}

std::uint8_t requestOpcode(std::span<const std::uint8_t> request) {
  if (request.empty()) {
    return 0;
  }
  if (request[0] >= kShortFrameStart) {
    return request.size() > 1 ? request[1] : 0;
  }
  return static_cast<std::uint8_t>(request[0] >> 4);
}

ResponseParser::State ResponseParser::afterHeader() {
  if (opcodeCarriesAddress(opcode_)) {
    // Four address bytes and the checksum at the least.
    if (remaining_ < 5) {
      return fail(Failure::Malformed);
    }
    return state_ = State::Address;
  }
  return state_ = remaining_ <= 1 ? State::Checksum : State::Data;
}

ResponseParser::State ResponseParser::feed(std::uint8_t byte) {
  restoresTrials_ = false;
  if (finished()) {
    return state_;
  }
  if (state_ != State::Acknowledge && state_ != State::Hunt) {
    if (state_ != State::Checksum) {
      sum_ += byte;
    }
  }
  switch (state_) {
    case State::Acknowledge:
      if (byte != kAcknowledge) {
        opcode_ = kNoAcknowledgeOpcode;
        return fail(Failure::NoAcknowledge);
      }
      return state_ = State::Hunt;
    case State::Hunt:
      if (byte == kLongFrameStart) {
        sum_ = byte;
        return state_ = State::LongOpcode;
      }
      if (byte >= kShortFrameStart) {
        sum_ = byte;
        remaining_ = byte & 0x0F;
        return state_ = State::ShortOpcode;
      }
      restoresTrials_ = true;
      return state_;
    case State::LongOpcode:
      opcode_ = byte;
      restoresTrials_ = true;
      return state_ = State::LengthHigh;
    case State::LengthHigh:
      remaining_ = std::size_t{byte} << 8;
      return state_ = State::LengthLow;
    case State::LengthLow:
      remaining_ += byte;
      if (remaining_ == 0) {
        return state_ = State::Checksum;
      }
      return afterHeader();
    case State::ShortOpcode:
      opcode_ = byte;
      restoresTrials_ = true;
      if (remaining_ == 0) {
        // Not even room for the checksum.
        return fail(Failure::Malformed);
      }
      return afterHeader();
    case State::Address:
      address_ = address_ << 8 | byte;
      --remaining_;
      if (++addressBytes_ < 4) {
        return state_;
      }
      return state_ = remaining_ == 1 ? State::Checksum : State::Data;
    case State::Data:
      if (dataCount_ >= dataOut_.size()) {
        return fail(Failure::DataOverflow);
      }
      dataOut_[dataCount_++] = byte;
      --remaining_;
      return state_ = remaining_ == 1 ? State::Checksum : State::Data;
    case State::Checksum:
      if (byte != static_cast<std::uint8_t>(0xFF - (sum_ & 0xFF))) {
        return fail(Failure::BadChecksum);
      }
      return state_ = State::Done;
    case State::Done:
    case State::Failed:
      break;
  }
  return state_;
}

}  // namespace orvik
