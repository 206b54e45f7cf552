#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {

// The largest input file the package builder takes: an S-record text of a 2 MiB image.
inline constexpr std::size_t kMaxPackInputSize = 16 * 1024 * 1024;

// Whole-file helpers for the package builder; failures come back as a sentence for the user.
// A file of more than maxBytes is refused unread.
std::optional<std::vector<std::uint8_t>> readPackFile(const std::filesystem::path& path,
                                                      std::string& error,
                                                      std::size_t maxBytes = kMaxPackInputSize);
bool writePackFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string& error);
bool writePackFile(const std::filesystem::path& path, std::string_view text, std::string& error);

// A number as the package tools take it: hexadecimal with or without 0x (as in address maps)
// when hex is set, otherwise decimal unless it starts with 0x.
std::optional<std::uint32_t> parsePackNumber(std::string_view text, bool hex);

}  // namespace orvik
