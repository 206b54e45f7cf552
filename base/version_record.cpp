#include "base/version_record.h"

#include <charconv>

namespace orvik {

std::optional<VersionRecord> parseVersionRecord(std::string_view text) {
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (text.empty() || !isLetter(text[0])) {
    return std::nullopt;
  }
  VersionRecord record{static_cast<std::uint8_t>(text[0]), 0, 0, 0};
  const char* p = text.data() + 1;
  const char* end = text.data() + text.size();
  for (std::size_t i = 1; i < record.size(); ++i) {
    if (i > 1) {
      if (p == end || *p != '.') {
        return std::nullopt;
      }
      ++p;
    }
    unsigned value = 0;
    const auto [next, error] = std::from_chars(p, end, value);
    if (error != std::errc() || next == p || value > 255) {
      return std::nullopt;
    }
    record[i] = static_cast<std::uint8_t>(value);
    p = next;
  }
  if (p != end) {
    return std::nullopt;
  }
  return record;
}

}  // namespace orvik
