#include "app/paths.h"

#include <cstdlib>
#include <system_error>

namespace orvik {

std::filesystem::path machineDataDir(const std::optional<std::string>& override) {
  if (override && !override->empty()) {
    return *override;
  }
  if (const char* env = std::getenv("ORVIK_DATA_DIR"); env != nullptr && *env != '\0') {
    return env;
  }
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return base / kMakerFolder / kToolFolder;
}

std::filesystem::path installDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    return std::filesystem::current_path() / "..";
  }
  return exe.parent_path().parent_path();
}

}  // namespace orvik
