#include "pack/pack_files.h"

#include <charconv>
#include <fstream>
#include <system_error>

#include "package/file_bytes.h"

namespace orvik {

std::optional<std::vector<std::uint8_t>> readPackFile(const std::filesystem::path& path,
                                                      std::string& error, std::size_t maxBytes) {
  std::vector<std::uint8_t> bytes;
  switch (readWholeFile(path, bytes, maxBytes)) {
    case FileReadResult::OpenFailed:
      error = "cannot open " + path.string();
      return std::nullopt;
    case FileReadResult::ReadFailed:
      error = "cannot read " + path.string();
      return std::nullopt;
    case FileReadResult::TooLarge:
      error = path.string() + " is larger than " + std::to_string(maxBytes) + " bytes";
      return std::nullopt;
    case FileReadResult::Ok:
      break;
  }
  return bytes;
}

bool writePackFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string& error) {
  std::error_code ignored;
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), ignored);
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    error = "cannot create " + path.string();
    return false;
  }
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

bool writePackFile(const std::filesystem::path& path, std::string_view text, std::string& error) {
  return writePackFile(
      path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), error);
}

std::optional<std::uint32_t> parsePackNumber(std::string_view text, bool hex) {
  int base = hex ? 16 : 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace orvik
