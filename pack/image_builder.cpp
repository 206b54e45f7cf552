#include "pack/image_builder.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "base/text.h"
#include "package/flash.h"

namespace orvik {

std::optional<std::vector<std::uint8_t>> buildFirmwareImage(std::span<const std::uint8_t> binary,
                                                            const ImageOptions& options,
                                                            std::string& error) {
  // Bodies come in whole groups of four words (8 bytes), and a count word must not be 0.
  const std::size_t sectionBytes = options.sectionBytes / 8 * 8;
  if (sectionBytes < 8 || sectionBytes > kMaxSectionBytes) {
    error = formatText("the section size must be 8 to %zu bytes", kMaxSectionBytes);
    return std::nullopt;
  }
  if (binary.empty()) {
    error = "the binary is empty";
    return std::nullopt;
  }
  if (options.tableEntries.size() > 0xFFFF) {
    error = "the table has more than 65535 entries";
    return std::nullopt;
  }
  const std::size_t sections = (binary.size() + sectionBytes - 1) / sectionBytes;
  if (sections > kMaxImageSections) {
    error = formatText("the binary needs %zu sections; an image holds at most %zu", sections,
                       kMaxImageSections);
    return std::nullopt;
  }

  ByteWriter image;
  image.be16(kImageMagic).be32(options.headerValue);
  image.be16(static_cast<std::uint16_t>(options.tableEntries.size()));
  for (std::uint32_t entry : options.tableEntries) {
    image.be32(entry);
  }
  std::vector<std::uint8_t> bytes = image.take();
  for (std::size_t offset = 0; offset < binary.size(); offset += sectionBytes) {
    const std::size_t chunk = std::min(sectionBytes, binary.size() - offset);
    const std::size_t bodyBytes = (chunk + 7) / 8 * 8;
    const std::size_t words = bodyBytes / 2;
    // (words - 2) + 2 is already a multiple of four, so the body is exactly bodyBytes.
    const auto count = static_cast<std::uint16_t>(words - 2);
    bytes.push_back(static_cast<std::uint8_t>(count >> 8));
    bytes.push_back(static_cast<std::uint8_t>(count));
    bytes.insert(bytes.end(), binary.begin() + static_cast<std::ptrdiff_t>(offset),
                 binary.begin() + static_cast<std::ptrdiff_t>(offset + chunk));
    bytes.insert(bytes.end(), bodyBytes - chunk, 0xFF);
  }
  // A filler word after the last section, so a reader that wants data beyond a section's end
  // still takes the whole last section.
  bytes.push_back(0);
  bytes.push_back(0);
  if (bytes.size() > kMaxImageLength) {
    error = formatText("the image would have %zu bytes; at most %zu fit", bytes.size(),
                       kMaxImageLength);
    return std::nullopt;
  }
  return bytes;
}

}  // namespace orvik
