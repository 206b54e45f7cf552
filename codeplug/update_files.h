#pragma once

#include <filesystem>

#include "codeplug/cpg.h"
#include "package/flash.h"
#include "package/flash_layout.h"
#include "package/kxk_file.h"

namespace orvik {

// The three package files of an update, each loaded and checked on its own, so that an update
// can refuse a damaged package before it touches the radio and the package builder can tell
// the same. Each leaves the lines of its readers in the error text when it refuses.

// Loads an address map and applies it to the codeplug's blocks. False when the file does not
// load, holds nothing or does not parse.
bool loadAddressMapFile(const std::filesystem::path& path, KxkFile& file, Cpg& cpg);

// Loads a firmware file into flash. False when the file does not load, holds nothing, the
// image walk refuses it, or the image does not fit a radio of the layout.
bool loadFirmwareFile(const std::filesystem::path& path, KxkFile& file, Flash& flash,
                      const FlashLayoutRow& layout);

// Parses a codeplug stream into the codeplug's blocks (placed by its current address map).
// False when the stream does not parse or puts no byte into the DEF block, which would
// otherwise be programmed as a block of zeros.
bool parseCodeplugForUpdate(std::span<const std::uint8_t> stream, Cpg& cpg);

// Loads a codeplug file and parses it as above; false also when the file does not load or
// holds nothing.
bool loadCodeplugFile(const std::filesystem::path& path, KxkFile& file, Cpg& cpg);

}  // namespace orvik
