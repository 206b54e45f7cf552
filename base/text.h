#pragma once

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#if defined(__GNUC__)
#define ORVIK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ORVIK_PRINTF(fmt, args)
#endif

namespace orvik {

// printf-style formatting into a std::string of any length.
std::string formatText(const char* format, ...) ORVIK_PRINTF(1, 2);
std::string formatTextV(const char* format, std::va_list args);

// 8-bit names in package files and on the radio are Latin-1; inside the program texts are
// UTF-8.
std::string latin1ToUtf8(std::span<const std::uint8_t> bytes);
std::string latin1ToUtf8(std::string_view bytes);

// The first maxChars characters (code points) of a UTF-8 text, never splitting a character.
std::string truncateUtf8(std::string text, std::size_t maxChars);

// "AA BB CC" for the given bytes.
std::string hexDump(std::span<const std::uint8_t> bytes);

// The text with its control characters (and DEL) written as \xHH, so that text from a radio
// or a file cannot move the cursor, clear the screen or forge lines where it is printed.
std::string printableText(std::string_view text);

// The local time as "2026-12-10 14:05:09"; empty when it cannot be told.
std::string localTimeText(std::chrono::system_clock::time_point when);

}  // namespace orvik
