// Feeds arbitrary bytes to the S-record stream parser, with blocks placed where short
// addresses reach them and one block at the top of the 32-bit address space.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "codeplug/cpg.h"
#include "errors/error_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace orvik;
using fuzzing::check;

Cpg& codeplug() {
  static Cpg cpg = [] {
    Cpg made;
    made.parseAddressMap(
        "DYN_START ADDRESS 0 BSIZE 100 HW_START ADDRESS 1000 BSIZE 800 "
        "DEF_BLK ADDRESS 844000 BSIZE 10000 RESERVED_BLOCK_2 ADDRESS FFFFFF00 BSIZE 1000");
    return made;
  }();
  return cpg;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  // One object for every input, as the tool keeps one: nothing of an earlier stream may
  // survive the next parse's clearing.
  Cpg& cpg = codeplug();
  cpg.parseCodeplugStream(std::span<const std::uint8_t>(bytes, size));
  for (int i = 0; i < kCpgBlockCount; ++i) {
    check(cpg.block(i).data.size() == cpg.block(i).size);
  }
  removeErrors(ErrorCategory::OK);
  return 0;
}
