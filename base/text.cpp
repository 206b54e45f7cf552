#include "base/text.h"

#include <cstdio>
#include <ctime>

namespace orvik {

std::string formatTextV(const char* format, std::va_list args) {
  std::va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) {
    return {};
  }
  std::string out(static_cast<std::size_t>(needed) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(needed));
  return out;
}

std::string formatText(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string out = formatTextV(format, args);
  va_end(args);
  return out;
}

std::string latin1ToUtf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::uint8_t b : bytes) {
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::string latin1ToUtf8(std::string_view bytes) {
  return latin1ToUtf8(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::string truncateUtf8(std::string text, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) {  // the first byte of a character
      if (chars == maxChars) {
        text.resize(i);
        return text;
      }
      ++chars;
    }
  }
  return text;
}

std::string hexDump(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) {
      out.push_back(' ');
    }
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0xF]);
  }
  return out;
}

std::string localTimeText(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  char text[32] = "";
  if (::localtime_r(&seconds, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
    return {};
  }
  return text;
}

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += formatText("\\x%02X", byte);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace orvik
