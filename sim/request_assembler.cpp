#include "sim/request_assembler.h"

#include <algorithm>
#include <array>

namespace orvik {
namespace {

constexpr std::uint8_t kLongStart = 0xFF;
constexpr std::uint8_t kShortStartMin = 0xF1;  // F0 would leave no room for the checksum
constexpr std::uint8_t kShortStartMax = 0xFE;
constexpr std::array<std::uint8_t, 3> kBootLoadRequest = {0xA1, 0x00, 0x5E};

bool startsRequest(std::uint8_t byte) {
  return byte == kLongStart || (byte >= kShortStartMin && byte <= kShortStartMax) ||
         byte == kBootLoadRequest[0];
}

}  // namespace

std::uint8_t RequestFrame::opcode() const {
  return form == Form::BootLoad || bytes.size() < 2 ? 0 : bytes[1];
}

std::span<const std::uint8_t> RequestFrame::payload() const {
  const std::span<const std::uint8_t> all(bytes);
  switch (form) {
    case Form::Long:
      return all.size() < 5 ? all.first(0) : all.subspan(4, all.size() - 5);
    case Form::Short:
      return all.size() < 3 ? all.first(0) : all.subspan(2, all.size() - 3);
    case Form::BootLoad:
      break;
  }
  return all.first(0);
}

void RequestAssembler::feed(std::span<const std::uint8_t> bytes) {
  // Compact once the consumed part dominates, so that a long session does not grow the
  // buffer and each request is moved at most once.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void RequestAssembler::clear() {
  buffer_.clear();
  start_ = 0;
}

void RequestAssembler::drop(std::size_t count) {
  start_ += count;
  droppedBytes_ += count;
}

std::optional<RequestFrame> RequestAssembler::next() {
  while (true) {
    while (start_ < buffer_.size() && !startsRequest(buffer_[start_])) {
      drop(1);
    }
    const std::span<const std::uint8_t> pending =
        std::span<const std::uint8_t>(buffer_).subspan(start_);
    if (pending.empty()) {
      return std::nullopt;
    }

    RequestFrame frame;
    std::size_t total = 0;
    if (pending[0] == kBootLoadRequest[0]) {
      const std::size_t have = std::min(pending.size(), kBootLoadRequest.size());
      if (!std::equal(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(have),
                      kBootLoadRequest.begin())) {
        drop(1);
        continue;
      }
      if (have < kBootLoadRequest.size()) {
        return std::nullopt;
      }
      frame.form = RequestFrame::Form::BootLoad;
      total = kBootLoadRequest.size();
    } else if (pending[0] == kLongStart) {
      if (pending.size() < 4) {
        return std::nullopt;
      }
      const std::size_t length = std::size_t{pending[2]} << 8 | pending[3];
      // A length of 0 still has the checksum right after the length field.
      total = 4 + std::max<std::size_t>(length, 1);
      if (total > kMaxRequestLength) {
        drop(1);
        continue;
      }
      frame.form = RequestFrame::Form::Long;
    } else {
      total = 2 + (pending[0] & 0x0F);
      frame.form = RequestFrame::Form::Short;
    }
    if (pending.size() < total) {
      return std::nullopt;
    }

    const std::span<const std::uint8_t> bytes = pending.first(total);
    start_ += total;
    if (frame.form != RequestFrame::Form::BootLoad) {
      unsigned sum = 0;
      for (std::uint8_t b : bytes) {
        sum += b;
      }
      // All bytes of a frame, checksum included, add up to 0xFF.
      if ((sum & 0xFF) != 0xFF) {
        ++badChecksumFrames_;
        continue;
      }
    }
    frame.bytes.assign(bytes.begin(), bytes.end());
    return frame;
  }
}

}  // namespace orvik
