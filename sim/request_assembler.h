#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orvik {

// One complete request with a valid checksum, as it arrived.
struct RequestFrame {
  enum class Form { Long, Short, BootLoad };

  Form form = Form::Long;
  std::vector<std::uint8_t> bytes;

  // The second byte of a long or short frame; 0 for the boot-load request.
  std::uint8_t opcode() const;
  // The bytes between the header and the checksum; empty for the boot-load request.
  std::span<const std::uint8_t> payload() const;
};

// Cuts the byte stream that reaches the radio into requests: long frames (FF op Lhi Llo ...
// CS, 4 + L bytes), short frames (Fn op ... CS, 2 + n bytes) and the three-byte boot-load
// request A1 00 5E. Pure code over bytes, so that it can be tested and fuzzed on its own.
class RequestAssembler {
 public:
  // The longest request the radio takes: a flash write of 4096 bytes needs 4105, and the
  // PC's buffer holds 4109. A longer length field cannot start a request.
  static constexpr std::size_t kMaxRequestLength = 4109;

  void feed(std::span<const std::uint8_t> bytes);
  // The next complete request, or nothing until more bytes arrive. Bytes that start no
  // request are dropped; a complete frame with a wrong checksum is dropped whole.
  std::optional<RequestFrame> next();
  // Forgets a partly received request.
  void clear();

  std::size_t pendingBytes() const { return buffer_.size() - start_; }
  std::size_t droppedBytes() const { return droppedBytes_; }
  std::size_t badChecksumFrames() const { return badChecksumFrames_; }

 private:
  void drop(std::size_t count);

  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;
  std::size_t droppedBytes_ = 0;
  std::size_t badChecksumFrames_ = 0;
};

}  // namespace orvik
