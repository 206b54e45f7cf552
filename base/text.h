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
// Lower-case hex digits, two a byte, nothing between: the way digests are written.
std::string hexText(std::span<const std::uint8_t> bytes);

// The length of the well-formed UTF-8 character at text[pos] (1 to 4), or 0 when the bytes
// there are not one: a stray continuation byte, a cut-off sequence, an overlong form, a
// surrogate or a value past U+10FFFF.
std::size_t utf8CharLength(std::string_view text, std::size_t pos);

// The text with each byte of its control characters written as \xHH: the C0 controls, DEL,
// the C1 controls (U+0080 to U+009F, also as lone bytes, which some terminals obey as well)
// and every byte that is not part of well-formed UTF-8. So text from a radio or a file cannot
// move the cursor, clear the screen, set a title or forge lines where it is printed; valid
// UTF-8 otherwise stays as it is.
std::string printableText(std::string_view text);

// printableText line by line for a message of several lines: its line breaks (LF or CR LF)
// and tabs stay as they are, since they cannot draw over what is already shown.
std::string printableLines(std::string_view text);

// The local time as "2026-12-10 14:05:09"; empty when it cannot be told.
std::string localTimeText(std::chrono::system_clock::time_point when);

}  // namespace orvik
