#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orvik {

// Bounds-checked reader over a byte span. A read past the end yields zeros and makes the
// reader fail for good; callers check ok() once after a group of reads.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  bool ok() const { return ok_; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return data_.size() - pos_; }

  std::uint8_t u8() {
    if (!take(1)) {
      return 0;
    }
    return data_[pos_ - 1];
  }

  std::uint16_t be16() {
    if (!take(2)) {
      return 0;
    }
    return static_cast<std::uint16_t>(data_[pos_ - 2] << 8 | data_[pos_ - 1]);
  }

  std::uint32_t be32() {
    if (!take(4)) {
      return 0;
    }
    const std::uint8_t* p = &data_[pos_ - 4];
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
  }

  std::uint32_t le32() {
    if (!take(4)) {
      return 0;
    }
    const std::uint8_t* p = &data_[pos_ - 4];
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 |
           std::uint32_t{p[0]};
  }

  // The next n bytes, or an empty span (and failure) when fewer are left.
  std::span<const std::uint8_t> bytes(std::size_t n) {
    if (!take(n)) {
      return {};
    }
    return data_.subspan(pos_ - n, n);
  }

  void skip(std::size_t n) { take(n); }

 private:
  bool take(std::size_t n) {
    if (!ok_ || n > remaining()) {
      ok_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// Appends big-endian numbers and byte runs to a growing buffer.
class ByteWriter {
 public:
  ByteWriter& u8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  ByteWriter& be16(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v));
  }
  ByteWriter& be24(std::uint32_t v) {
    return u8(static_cast<std::uint8_t>(v >> 16)).be16(static_cast<std::uint16_t>(v));
  }
  ByteWriter& be32(std::uint32_t v) {
    return be16(static_cast<std::uint16_t>(v >> 16)).be16(static_cast<std::uint16_t>(v));
  }
  ByteWriter& le32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return *this;
  }
  ByteWriter& append(std::span<const std::uint8_t> data) {
    // Grown first and then copied into: g++ 12 at -O3 takes an insert after a few u8() calls
    // for a write past the end of the buffer.
    const std::size_t at = bytes_.size();
    bytes_.resize(at + data.size());
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
    return *this;
  }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace orvik
