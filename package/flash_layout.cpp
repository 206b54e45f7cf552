#include "package/flash_layout.h"

#include <algorithm>
#include <iterator>

#include "errors/error_text.h"

namespace orvik {
namespace {

constexpr FlashLayoutRow kFlashLayouts[kFlashLayoutCount] = {
    {0x64000, 0x70000, 0x0800, 0x0840, 0x0440},
    {0x84000, 0xE0000, 0x1000, 0x3000, 0x0840},
    {0x84000, 0x180000, 0x3040, 0x3000, 0x1040},
};
constexpr FlashLayoutRow kUnknownFlashLayout{std::nullopt, std::nullopt, 0x0800, 0x0840, 0x0440};

}  // namespace

bool knownFlashLayout(int flashLayout) {
  return flashLayout >= 0 && flashLayout < kFlashLayoutCount;
}

const FlashLayoutRow& flashLayoutRow(int flashLayout) {
  return knownFlashLayout(flashLayout) ? kFlashLayouts[flashLayout] : kUnknownFlashLayout;
}

std::uint32_t firmwareImageLimit(const FlashLayoutRow& layout) {
  std::uint32_t limit = kFirmwareRegionEnd;
  for (const auto& block : {layout.defAddress, layout.dynAddress}) {
    if (block) {
      limit = std::min(limit, *block);
    }
  }
  return limit;
}

bool checkFirmwareImageFits(std::size_t length, const FlashLayoutRow& layout) {
  // Past the limit the image would go onto flash that was never erased, or over the blocks
  // that the update writes afterwards.
  const std::uint64_t end = std::uint64_t{kFirmwareStart} + length;
  const std::uint32_t limit = firmwareImageLimit(layout);
  if (end <= limit) {
    return true;
  }
  appendError(ErrorCategory::FLASH, "Error:the firmware image ends at [%llu], past [%u].",
              static_cast<unsigned long long>(end), limit);
  return false;
}

}  // namespace orvik
