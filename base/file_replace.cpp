#include "base/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace orvik {
namespace {

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

// Makes the rename itself durable; the content is already safe, so a failure here does not
// undo the replacement.
void syncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

bool replaceFileContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::filesystem::path target = path;
  std::error_code error;
  if (std::filesystem::is_symlink(target, error)) {
    target = std::filesystem::canonical(path, error);
    if (error) {
      return false;
    }
  }

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0)) {
    return false;
  }

  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  std::string tempName = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  bool ok = writeAll(fd, bytes);
  ok = ok && (!exists || ::fchmod(fd, old.st_mode & 07777) == 0);
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(tempName.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tempName.c_str());
    return false;
  }
  syncFolder(folder);
  return true;
}

}  // namespace orvik
