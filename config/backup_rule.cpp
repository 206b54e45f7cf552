#include "config/backup_rule.h"

#include <algorithm>

namespace orvik {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digitValue(char c, int base) {
  int value = 99;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value < base ? value : -1;
}

// Reads like the C library's strtol into a signed 32-bit number, saturating at its limits.
std::int32_t readInteger(std::string_view text, int base) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (base == 16 && i + 2 < text.size() && text[i] == '0' &&
      (text[i + 1] == 'x' || text[i + 1] == 'X') && digitValue(text[i + 2], 16) >= 0) {
    i += 2;
  }
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = digitValue(text[i], base);
    if (digit < 0) {
      break;
    }
    magnitude = std::min(magnitude * base + digit, limit);
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::int32_t backupBlockType(std::string_view name) {
  if (equalsIgnoringCase(name, "DYN")) {
    return kBackupTypeDyn;
  }
  if (equalsIgnoringCase(name, "CON")) {
    return kBackupTypeCon;
  }
  return -1;
}

std::set<std::uint8_t> parseVersionSet(std::string_view text) {
  std::set<std::uint8_t> versions;
  while (!text.empty()) {
    const std::size_t end = text.find('^');
    const std::string_view item = text.substr(0, end);
    if (!item.empty()) {
      versions.insert(static_cast<std::uint8_t>(readInteger(item, 10) & 0xFF));
    }
    if (end == std::string_view::npos) {
      break;
    }
    text.remove_prefix(end + 1);
  }
  return versions;
}

std::int32_t parseHexNumber(std::string_view text) {
  return readInteger(text, 16);
}

}  // namespace orvik
