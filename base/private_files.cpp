#include "base/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace orvik {
namespace {

constexpr mode_t kOthersAccess = 077;

void tighten(int fd, mode_t keep) {
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & kOthersAccess)) {
    ::fchmod(fd, info.st_mode & keep);
  }
}

}  // namespace

bool makePrivateFolder(const std::filesystem::path& folder) {
  std::error_code ignored;
  if (folder.has_parent_path()) {
    std::filesystem::create_directories(folder.parent_path(), ignored);
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return false;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  tighten(fd, 0700);
  ::close(fd);
  return true;
}

int openPrivateFile(const std::filesystem::path& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    tighten(fd, 0600);
  }
  return fd;
}

void makeFilePrivate(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    tighten(fd, 0600);
    ::close(fd);
  }
}

}  // namespace orvik
