#include "tests/package/kxk_bytes.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "package/md5.h"

namespace orvik::testing {

std::vector<std::uint8_t> KxkBytes::build() const {
  static const char kKey[] = "KXK";
  ByteWriter w;
  w.u8('K').u8('X').u8('K').u8(0).u8(0).u8(0).u8(0).u8(0);
  for (int i = 0; i < 16; ++i) {
    w.u8(0);
  }
  const std::size_t length =
      declaredLength >= 0 ? static_cast<std::size_t>(declaredLength) : prefix.size() + body.size();
  w.u8(letter).u8(major).u8(minor).u8(patch).u8(type).be32(static_cast<std::uint32_t>(length));
  w.u8(static_cast<std::uint8_t>(name.size()));
  for (char c : name) {
    w.u8(static_cast<std::uint8_t>(c));
  }
  w.append(prefix);
  for (std::size_t i = 0; i < body.size(); ++i) {
    w.u8(static_cast<std::uint8_t>(body[i] ^ kKey[i % 3]));
  }
  w.append(trailer);
  std::vector<std::uint8_t> bytes = w.take();
  if (fixDigest) {
    const Md5Digest digest = md5Digest(std::span(bytes).subspan(24));
    std::copy(digest.begin(), digest.end(), bytes.begin() + 8);
  }
  return bytes;
}

std::vector<std::uint8_t> modelPrefix(std::uint32_t number, const std::string& modelName,
                                      int lengthByte) {
  ByteWriter w;
  w.le32(number).u8(static_cast<std::uint8_t>(lengthByte >= 0 ? lengthByte : modelName.size()));
  for (char c : modelName) {
    w.u8(static_cast<std::uint8_t>(c));
  }
  return w.take();
}

std::vector<std::uint8_t> regionPrefix(const std::string& region) {
  ByteWriter w;
  w.u8(static_cast<std::uint8_t>(region.size()));
  for (char c : region) {
    w.u8(static_cast<std::uint8_t>(c));
  }
  return w.take();
}

}  // namespace orvik::testing
