#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace orvik {

// Where a radio keeps its default and dynamic blocks in flash, and the protection modes of
// the three stages of an update, by the flash layout the radio reports.
struct FlashLayoutRow {
  std::optional<std::uint32_t> defAddress;
  std::optional<std::uint32_t> dynAddress;
  std::uint16_t firmwareMode;
  std::uint16_t defaultBlockMode;
  std::uint16_t finalMode;
};
inline constexpr int kFlashLayoutCount = 3;
const FlashLayoutRow& flashLayoutRow(int flashLayout);
bool knownFlashLayout(int flashLayout);

// The firmware region: erased as seven 64 KiB units from 0x10000 and programmed from its
// start.
inline constexpr std::uint32_t kFirmwareStart = 0x10000;
inline constexpr std::uint32_t kFirmwareRegionEnd = 0x80000;
inline constexpr std::array<std::uint32_t, 7> kFirmwareEraseUnits = {
    0x10000, 0x20000, 0x30000, 0x40000, 0x50000, 0x60000, 0x70000};

// Where an image programmed from kFirmwareStart must end at the latest on a radio of the
// layout: within the erased region and before the layout's own blocks.
std::uint32_t firmwareImageLimit(const FlashLayoutRow& layout);

// Whether an image of the length can be programmed on a radio of the layout; false with a
// line in the error text when it cannot.
bool checkFirmwareImageFits(std::size_t length, const FlashLayoutRow& layout);

}  // namespace orvik
