#include "app/paths.h"

#include <cstdlib>
#include <system_error>

namespace orvik {
namespace {

std::optional<std::filesystem::path> dataHome() {
  // A relative XDG_DATA_HOME is to be ignored, as the XDG rules say.
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    return std::filesystem::path(xdg);
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::filesystem::path(home) / ".local" / "share";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::filesystem::path> findMachineDataDir(
    const std::optional<std::string>& override) {
  if (override && !override->empty()) {
    return std::filesystem::path(*override);
  }
  if (const char* env = std::getenv("ORVIK_DATA_DIR"); env != nullptr && *env != '\0') {
    return std::filesystem::path(env);
  }
  if (const auto home = dataHome()) {
    return *home / kMakerFolder / kToolFolder;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> findSimulatedMachineDataDir(
    const std::optional<std::string>& override) {
  if (override && !override->empty()) {
    return std::filesystem::path(*override);
  }
  if (const auto home = dataHome()) {
    return *home / kMakerFolder / kSimulatedToolFolder;
  }
  return std::nullopt;
}

std::filesystem::path machineDataDir(const std::optional<std::string>& override) {
  if (auto found = findMachineDataDir(override)) {
    return *found;
  }
  return std::filesystem::temp_directory_path() / kMakerFolder / kToolFolder;
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
