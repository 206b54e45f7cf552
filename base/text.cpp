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

std::string hexText(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
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

std::size_t utf8CharLength(std::string_view text, std::size_t pos) {
  const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = at(pos);
  if (first < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;   // the second byte's range, narrowed against overlong forms,
  unsigned char high = 0xBF;  // surrogates and values past U+10FFFF
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    low = first == 0xE0 ? 0xA0 : 0x80;
    high = first == 0xED ? 0x9F : 0xBF;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    low = first == 0xF0 ? 0x90 : 0x80;
    high = first == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (pos + length > text.size() || at(pos + 1) < low || at(pos + 1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if ((at(pos + i) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return length;
}

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    const std::size_t length = utf8CharLength(text, pos);
    // U+0080 to U+009F are C2 80 to C2 9F.
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[pos + 1]) < 0xA0;
    if (length == 0 || byte < 0x20 || byte == 0x7F || c1) {
      // Byte by byte: after a bad byte the next one starts afresh.
      const std::size_t escaped = c1 ? 2 : 1;
      for (std::size_t i = 0; i < escaped; ++i) {
        out += formatText("\\x%02X", static_cast<unsigned char>(text[pos + i]));
      }
      pos += escaped;
    } else {
      out.append(text.substr(pos, length));
      pos += length;
    }
  }
  return out;
}

std::string printableLines(std::string_view text) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    const bool crlf = end != std::string_view::npos && line.ends_with('\r');
    if (crlf) {
      line.remove_suffix(1);
    }
    // A tab only moves to the next stop; the tool's own texts lay lines out with it.
    std::size_t from = 0;
    for (std::size_t tab = line.find('\t'); tab != std::string_view::npos;
         from = tab + 1, tab = line.find('\t', from)) {
      out += printableText(line.substr(from, tab - from));
      out += '\t';
    }
    out += printableText(line.substr(from));
    if (end == std::string_view::npos) {
      return out;
    }
    out += crlf ? "\r\n" : "\n";
    start = end + 1;
  }
}

}  // namespace orvik
