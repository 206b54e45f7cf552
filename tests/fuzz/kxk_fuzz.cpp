// Feeds arbitrary bytes to the container readers as a package file, and a loaded payload to
// the firmware image walk. When bit 0 of the first byte is set the digest of the rest is
// made right first, so the fuzzer gets past the MD5 check to the header arithmetic.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "errors/error_text.h"
#include "package/flash.h"
#include "package/kxk_file.h"
#include "package/kxk_header.h"
#include "package/md5.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace orvik;
using fuzzing::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  std::vector<std::uint8_t> file(bytes + 1, bytes + size);
  if ((bytes[0] & 1) != 0 && file.size() >= kKxkDigestedFrom) {
    const Md5Digest digest = md5Digest(std::span(file).subspan(kKxkDigestedFrom));
    std::copy(digest.begin(), digest.end(), file.begin() + kKxkDigestOffset);
  }

  KxkFile kxk;
  if (loadKxkFile(file, "fuzz", kxk)) {
    check(file.size() >= kKxkHeaderSize);
    check(kxk.payloadLength() <= file.size() - kKxkHeaderSize);
    check(kxk.modelName.size() <= kKxkMaxModelName);
    Flash flash;
    if (flash.loadImage(kxk.payload)) {
      check(flash.imageLength() <= kxk.payloadLength());
      check(flash.imageLength() <= kMaxImageLength);
      check(flash.layout().sectionCount <= kMaxImageSections);
    }
  } else {
    check(kxk.payload.empty() && kxk.internalName.empty());
  }

  KxkHeaderInfo info;
  if (readKxkHeader(file, "fuzz", &info)) {
    check(info.type >= 0 && info.type <= 3);
    check(info.modelNameLength <= kKxkHeaderModelName);
    check(info.modelName.size() == info.modelNameLength);
  }
  removeErrors(ErrorCategory::OK);
  return 0;
}
