// Feeds arbitrary bytes to the personality backup reader. When bit 0 of the first byte is set
// the digest at the end of the rest is made right first, so the fuzzer gets past it to the
// counts and lengths. A file that reads must write back byte for byte: the format has one way
// to write each backup.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "commands/personality_file_bytes.h"
#include "package/md5.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace orvik;
  if (size == 0) {
    return 0;
  }
  std::vector<std::uint8_t> file(bytes + 1, bytes + size);
  if ((bytes[0] & 1) != 0 && file.size() >= kPersonalityDigestSize) {
    const Md5Digest digest = md5Digest(std::span(file).first(file.size() - kPersonalityDigestSize));
    std::copy(digest.begin(), digest.end(), file.end() - kPersonalityDigestSize);
  }
  const std::optional<PersonalityBackup> backup = decodePersonalityBackup(file);
  if (backup) {
    const std::optional<std::vector<std::uint8_t>> again = encodePersonalityBackup(*backup);
    fuzzing::check(again.has_value() && *again == file);
  }
  return 0;
}
