#include "workflow/versions.h"

#include <array>

namespace orvik {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isUpper(char c) {
  return c >= 'A' && c <= 'Z';
}

// Reads a field of one or two digits at pos; only the last field may have one.
std::optional<std::uint8_t> field(std::string_view text, std::size_t& pos, bool last) {
  if (pos >= text.size() || !isDigit(text[pos])) {
    return std::nullopt;
  }
  int value = text[pos++] - '0';
  if (pos < text.size() && isDigit(text[pos])) {
    value = value * 10 + (text[pos++] - '0');
  } else if (!last) {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}

// What each position of a serial number may hold.
enum class Allowed {
  Digit,              // 0-9
  DigitOrUpperNotO,   // 0-9, A-Z but O
  UpperNotIO,         // A-Z but I and O
  DigitOrUpper,       // 0-9, A-Z
  DigitOrUpperNotIO,  // 0-9, A-Z but I and O
};

bool allowed(char c, Allowed rule) {
  switch (rule) {
    case Allowed::Digit:
      return isDigit(c);
    case Allowed::DigitOrUpperNotO:
      return isDigit(c) || (isUpper(c) && c != 'O');
    case Allowed::UpperNotIO:
      return isUpper(c) && c != 'I' && c != 'O';
    case Allowed::DigitOrUpper:
      return isDigit(c) || isUpper(c);
    case Allowed::DigitOrUpperNotIO:
      return isDigit(c) || (isUpper(c) && c != 'I' && c != 'O');
  }
  return false;
}

using A = Allowed;
constexpr std::array<Allowed, 11> kElevenCharacterRule{A::Digit,
                                                       A::Digit,
                                                       A::Digit,
                                                       A::DigitOrUpperNotO,
                                                       A::DigitOrUpperNotO,
                                                       A::UpperNotIO,
                                                       A::UpperNotIO,
                                                       A::DigitOrUpper,
                                                       A::DigitOrUpperNotIO,
                                                       A::DigitOrUpperNotIO,
                                                       A::DigitOrUpperNotIO};
constexpr std::array<Allowed, 10> kTenCharacterRule{A::Digit,
                                                    A::Digit,
                                                    A::Digit,
                                                    A::DigitOrUpperNotO,
                                                    A::UpperNotIO,
                                                    A::UpperNotIO,
                                                    A::DigitOrUpper,
                                                    A::DigitOrUpperNotIO,
                                                    A::DigitOrUpperNotIO,
                                                    A::DigitOrUpperNotIO};

template <std::size_t N>
bool follows(std::string_view text, const std::array<Allowed, N>& rule) {
  if (text.size() < N) {
    return false;
  }
  for (std::size_t i = 0; i < N; ++i) {
    if (!allowed(text[i], rule[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<VersionTriple> parseVersion(std::string_view text) {
  std::size_t pos = 0;
  if (text.empty() || !isUpper(upperCase(text.substr(0, 1))[0])) {
    return std::nullopt;
  }
  ++pos;
  const auto major = field(text, pos, false);
  if (!major || pos >= text.size() || text[pos++] != '.') {
    return std::nullopt;
  }
  const auto minor = field(text, pos, false);
  if (!minor || pos >= text.size() || text[pos++] != '.') {
    return std::nullopt;
  }
  const auto patch = field(text, pos, true);
  if (!patch || pos != text.size()) {
    return std::nullopt;
  }
  return VersionTriple{*major, *minor, *patch};
}

int compareVersions(const VersionTriple& a, const VersionTriple& b) {
  const std::array<std::uint8_t, 3> x{a.major, a.minor, a.patch};
  const std::array<std::uint8_t, 3> y{b.major, b.minor, b.patch};
  return x > y ? 1 : (x < y ? -1 : 0);
}

std::string upperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return upper;
}

bool serialNumberAllowed(std::string_view text, std::int32_t serialLength) {
  return serialLength == 11 ? follows(text, kElevenCharacterRule)
                            : follows(text, kTenCharacterRule);
}

}  // namespace orvik
