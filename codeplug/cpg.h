#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace orvik {

// The nine codeplug blocks, by index.
enum CpgBlockIndex : int { DYN = 0, HW, CON, ERG, FAC, DEF, BAC, VOI, USERVOI };
inline constexpr int kCpgBlockCount = 9;

struct CpgBlock {
  std::int32_t index = 0;
  std::uint32_t startAddress = 0;
  std::uint32_t size = 0;
  // Empty until first needed; afterwards exactly size bytes.
  std::vector<std::uint8_t> data;
  // Bytes the last stream put into the block; the rest of its buffer is zero filler.
  std::size_t placedBytes = 0;
};

// What each block is called, its address-map key and where it lies before any map moves it.
struct CpgBlockInfo {
  const char* name;
  const char* mapKey;
  std::uint32_t defaultStart;
  std::uint32_t defaultSize;
};
inline constexpr std::array<CpgBlockInfo, kCpgBlockCount> kCpgBlocks = {{
    {"DYN", "DYN_START", 0x820000, 0x1000},
    {"HW", "HW_START", 0x842000, 0x1000},
    {"CON", "CONTACT_START", 0x830000, 0x2000},
    {"ERG", "ERGO_START", 0x840000, 0x1000},
    {"FAC", "FACT_START", 0x841000, 0x1000},
    // DEF and USERVOI start at these five-digit addresses until a map moves them; every
    // shipped map does.
    {"DEF", "DEF_BLK", 0x84400, 0x10000},
    {"BAC", "BACKUP_FACT", 0x843000, 0x1000},
    {"VOI", "RESERVED_BLOCK_1", 0x854000, 0x6000},
    {"USERVOI", "RESERVED_BLOCK_2", 0x86000, 0x6000},
}};

// The radio's codeplug as the update builds it: block places from the address map, block
// contents from the S-record stream. One object serves every run; a map can move blocks
// freely but only ever make them smaller, and buffers are reused.
class Cpg {
 public:
  Cpg();

  // Applies an address map ("DEF_BLK ADDRESS = 844000 BSIZE = 10000 ..."). False for an
  // empty text or a malformed value; values applied before that stay.
  bool parseAddressMap(std::span<const std::uint8_t> text);
  bool parseAddressMap(std::string_view text);

  // Clears the blocks, then places the data of every S-record into them. False (with
  // "Error:failed to parse CPG stream.") when a record is malformed or its checksum is
  // wrong; records before it stay placed.
  bool parseCodeplugStream(std::span<const std::uint8_t> text);
  bool parseCodeplugStream(std::string_view text);

  // Every block gets a zero-filled buffer of its size.
  void clearBlocks();

  // Copies the data into the first block that holds the address; bytes past that block's
  // end, and records that no block holds, are dropped.
  void placeRecord(std::uint32_t address, std::span<const std::uint8_t> data);

  const CpgBlock& block(int index) const { return blocks_[static_cast<std::size_t>(index)]; }

 private:
  std::array<CpgBlock, kCpgBlockCount> blocks_;
};

}  // namespace orvik
