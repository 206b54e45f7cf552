#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {

// Whole-file helpers for the package builder; failures come back as a sentence for the user.
std::optional<std::vector<std::uint8_t>> readPackFile(const std::filesystem::path& path,
                                                      std::string& error);
bool writePackFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string& error);
bool writePackFile(const std::filesystem::path& path, std::string_view text, std::string& error);

// A number as the package tools take it: hexadecimal with or without 0x (as in address maps)
// when hex is set, otherwise decimal unless it starts with 0x.
std::optional<std::uint32_t> parsePackNumber(std::string_view text, bool hex);

}  // namespace orvik
