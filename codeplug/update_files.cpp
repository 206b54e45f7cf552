#include "codeplug/update_files.h"

#include "errors/error_text.h"

namespace orvik {

bool loadAddressMapFile(const std::filesystem::path& path, KxkFile& file, Cpg& cpg) {
  return loadKxkFile(path, file) && !file.payload.empty() &&
         cpg.parseAddressMap(std::span<const std::uint8_t>(file.payload));
}

bool loadFirmwareFile(const std::filesystem::path& path, KxkFile& file, Flash& flash,
                      const FlashLayoutRow& layout) {
  return loadKxkFile(path, file) && !file.payload.empty() && flash.loadImage(file.payload) &&
         checkFirmwareImageFits(flash.imageLength(), layout);
}

bool parseCodeplugForUpdate(std::span<const std::uint8_t> stream, Cpg& cpg) {
  if (!cpg.parseCodeplugStream(stream)) {
    return false;
  }
  const CpgBlock& def = cpg.block(DEF);
  if (def.placedBytes == 0) {
    appendError(ErrorCategory::CPG, "Error:the codeplug stream has no data for block [%s] at [%u].",
                kCpgBlocks[DEF].name, def.startAddress);
    return false;
  }
  return true;
}

bool loadCodeplugFile(const std::filesystem::path& path, KxkFile& file, Cpg& cpg) {
  return loadKxkFile(path, file) && !file.payload.empty() &&
         parseCodeplugForUpdate(file.payload, cpg);
}

}  // namespace orvik
