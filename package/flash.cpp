#include "package/flash.h"

#include <algorithm>
#include <limits>

#include "base/byte_reader.h"
#include "errors/error_text.h"

namespace orvik {

bool walkImage(std::span<const std::uint8_t> data, ImageLayout& layout) {
  layout = ImageLayout{};
  ByteReader reader(data);

  // Without its magic the data is no image at all.
  if (reader.remaining() < 2) {
    return false;
  }
  layout.magic = reader.be16();
  if (layout.magic != kImageMagic) {
    return false;
  }
  if (reader.remaining() >= 4) {
    layout.headerValue = reader.be32();
  }
  if (reader.remaining() >= 2) {
    layout.tableCount = reader.be16();
    // The table must leave something after it.
    const std::size_t tableBytes = std::size_t{4} * layout.tableCount;
    if (tableBytes >= reader.remaining()) {
      return false;
    }
    reader.skip(tableBytes);
  }

  while (layout.sectionCount < kMaxImageSections && reader.remaining() >= 2) {
    const std::uint16_t count = reader.be16();
    if (count == 0) {
      continue;
    }
    const std::uint32_t words = sectionWords(count);
    layout.sectionSizes[layout.sectionCount] = words;
    layout.sectionStarts[layout.sectionCount] = static_cast<std::uint32_t>(reader.position());
    ++layout.sectionCount;
    // A section that runs past the data ends the image after its count word. One that
    // ends exactly at the end of the data is whole and belongs to the image.
    const std::size_t bodyBytes = std::size_t{2} * words;
    if (bodyBytes > reader.remaining()) {
      break;
    }
    reader.skip(bodyBytes);
  }

  layout.endPosition = static_cast<std::uint32_t>(
      std::min<std::size_t>(reader.position(), std::numeric_limits<std::uint32_t>::max()));
  if (reader.position() > kMaxImageLength) {
    appendError(ErrorCategory::FLASH, "Error:bad flash.");
    return false;
  }
  return true;
}

bool Flash::loadImage(std::span<const std::uint8_t> data) {
  image_.clear();
  if (data.empty()) {
    return false;
  }
  if (!walkImage(data, layout_)) {
    return false;
  }
  image_.assign(data.begin(), data.begin() + layout_.endPosition);
  return true;
}

}  // namespace orvik
