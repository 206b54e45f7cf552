#include "package/file_bytes.h"

#include <fstream>
#include <new>
#include <system_error>

namespace orvik {
namespace {

bool isRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

FileReadResult readWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out,
                             std::size_t maxBytes) {
  if (!isRegularFile(path)) {
    return FileReadResult::OpenFailed;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return FileReadResult::OpenFailed;
  }
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  if (size < 0 || !file) {
    return FileReadResult::ReadFailed;
  }
  if (static_cast<std::uintmax_t>(size) > maxBytes) {
    out.clear();
    return FileReadResult::TooLarge;
  }
  try {
    out.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    out.clear();
    return FileReadResult::ReadFailed;
  } catch (const std::length_error&) {
    out.clear();
    return FileReadResult::ReadFailed;
  }
  file.read(reinterpret_cast<char*>(out.data()), size);
  if (file.gcount() != size) {
    return FileReadResult::ReadFailed;
  }
  return FileReadResult::Ok;
}

FileReadResult readFileStart(const std::filesystem::path& path, std::size_t maxBytes,
                             std::vector<std::uint8_t>& out) {
  if (!isRegularFile(path)) {
    return FileReadResult::OpenFailed;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return FileReadResult::OpenFailed;
  }
  out.resize(maxBytes);
  file.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(maxBytes));
  out.resize(static_cast<std::size_t>(file.gcount()));
  if (file.bad()) {
    return FileReadResult::ReadFailed;
  }
  return FileReadResult::Ok;
}

}  // namespace orvik
