#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orvik {

struct ImageOptions {
  std::uint32_t headerValue = 0;
  std::vector<std::uint32_t> tableEntries;
  // Largest section body in bytes; the count word limits a body to 131072 bytes.
  std::size_t sectionBytes = 0x10000;
};

inline constexpr std::size_t kMaxSectionBytes = 0x20000;

// Wraps a binary into the firmware image layout: magic, header value, table, then the binary
// cut into sections (the last one padded with 0xFF to a whole body) and a closing filler word
// so that the walk takes every section. Refuses a binary that needs more than 60 sections or
// makes the image larger than 2 MiB.
std::optional<std::vector<std::uint8_t>> buildFirmwareImage(std::span<const std::uint8_t> binary,
                                                            const ImageOptions& options,
                                                            std::string& error);

}  // namespace orvik
