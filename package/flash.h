#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orvik {

// Firmware image layout: magic 0x09AA, a 32-bit header value, a table of t 4-byte entries
// after its 16-bit count, then up to 60 sections, each a 16-bit word count w and a body of
// (w + 2 rounded up to a multiple of 4) 16-bit words. A count of 0 is filler.
inline constexpr std::uint16_t kImageMagic = 0x09AA;
inline constexpr std::size_t kMaxImageSections = 60;
inline constexpr std::size_t kMaxImageLength = 0x200000;

// Body length of a section in 16-bit words for its count word.
constexpr std::uint32_t sectionWords(std::uint16_t count) {
  return (std::uint32_t{count} + 2 + 3) / 4 * 4;
}

struct ImageLayout {
  std::uint16_t magic = 0;
  std::uint32_t headerValue = 0;
  std::uint32_t endPosition = 0;
  std::uint16_t tableCount = 0;
  std::uint16_t sectionCount = 0;
  // In words; 32 bits, since a count of 0xFFFF makes a body of 65540 words.
  std::array<std::uint32_t, kMaxImageSections> sectionSizes{};
  std::array<std::uint32_t, kMaxImageSections> sectionStarts{};  // after each count word
};

// Walks the image without reading past its end. False for a missing or wrong magic, a table
// that reaches the end, or an end position above 2 MiB ("Error:bad flash.").
bool walkImage(std::span<const std::uint8_t> data, ImageLayout& layout);

// The firmware image to program: the part of a firmware file's body that the walk accepts.
class Flash {
 public:
  // Keeps the first end-position bytes of the data when the walk accepts it; otherwise the
  // result is false and no image is kept.
  bool loadImage(std::span<const std::uint8_t> data);

  std::span<const std::uint8_t> image() const { return image_; }
  std::uint32_t imageLength() const { return static_cast<std::uint32_t>(image_.size()); }
  const ImageLayout& layout() const { return layout_; }

 private:
  std::vector<std::uint8_t> image_;
  ImageLayout layout_;
};

}  // namespace orvik
