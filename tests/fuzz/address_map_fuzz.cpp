// Feeds arbitrary bytes to the address-map parser, twice on one object as the update does
// run after run, and checks that blocks only ever shrink.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "codeplug/cpg.h"
#include "errors/error_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace orvik;
using fuzzing::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::span<const std::uint8_t> text(bytes, size);
  Cpg cpg;
  cpg.parseAddressMap(text);
  cpg.clearBlocks();
  cpg.parseAddressMap(text);
  for (int i = 0; i < kCpgBlockCount; ++i) {
    const CpgBlock& block = cpg.block(i);
    check(block.size <= kCpgBlocks[static_cast<std::size_t>(i)].defaultSize);
    check(block.data.size() == block.size);
  }
  // Records at the block edges after whatever the map did.
  const std::uint8_t data[4] = {1, 2, 3, 4};
  for (int i = 0; i < kCpgBlockCount; ++i) {
    const CpgBlock& block = cpg.block(i);
    cpg.placeRecord(block.startAddress + block.size - 1, data);
    cpg.placeRecord(block.startAddress, data);
  }
  removeErrors(ErrorCategory::OK);
  return 0;
}
