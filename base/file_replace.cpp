#include "base/file_replace.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <string>
#include <system_error>

namespace orvik {
namespace {

// The mkostemp template of a hidden temporary file beside `file`. Appended piece by piece:
// g++ 12 at -O3 takes "." + name for an overlapping copy.
std::string hiddenTempTemplate(const std::filesystem::path& folder,
                               const std::filesystem::path& file) {
  std::string name = ".";
  name += file.filename().string();
  name += ".XXXXXX";
  return (folder / name).string();
}

// 0 when every byte went out, otherwise the errno value of the write that failed.
int writeAll(int fd, std::span<const std::uint8_t> bytes) {
  const FileSizeSignalBlock sizeSignal;
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return 0;
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

FileSizeSignalBlock::FileSizeSignalBlock() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGXFSZ);
  blocked_ = ::pthread_sigmask(SIG_BLOCK, &set_, &old_) == 0;
}

FileSizeSignalBlock::~FileSizeSignalBlock() {
  if (!blocked_) {
    return;
  }
  sigset_t pending;
  if (!sigismember(&old_, SIGXFSZ) && ::sigpending(&pending) == 0 &&
      sigismember(&pending, SIGXFSZ) == 1) {
    const timespec now{};
    ::sigtimedwait(&set_, nullptr, &now);
  }
  ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

bool replaceFileContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         FollowLink follow) {
  std::filesystem::path target = path;
  std::error_code error;
  if (std::filesystem::is_symlink(target, error)) {
    if (follow == FollowLink::No) {
      return false;
    }
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
  std::string tempName = hiddenTempTemplate(folder, target);
  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  bool ok = writeAll(fd, bytes) == 0;
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

namespace {

// Writes the bytes to a new hidden temporary file beside path, flushed to disk and closed;
// 0 with its name (and identity when asked), otherwise the errno value, with no temporary
// file left behind.
int writeTempFile(const std::filesystem::path& folder, const std::filesystem::path& path,
                  std::span<const std::uint8_t> bytes, std::string& tempName,
                  FileIdentity* identity) {
  tempName = hiddenTempTemplate(folder, path);
  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  int error = writeAll(fd, bytes);
  if (error == 0 && ::fsync(fd) != 0) {
    error = errno != 0 ? errno : EIO;
  }
  struct stat info {};
  if (error == 0 && identity != nullptr) {
    if (::fstat(fd, &info) == 0) {
      *identity = {static_cast<std::uint64_t>(info.st_dev),
                   static_cast<std::uint64_t>(info.st_ino)};
    } else {
      error = errno;
    }
  }
  if (::close(fd) != 0 && error == 0) {
    error = errno != 0 ? errno : EIO;
  }
  if (error != 0) {
    ::unlink(tempName.c_str());
  }
  return error;
}

std::filesystem::path folderOf(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

}  // namespace

CreateFileResult createFileWithContents(const std::filesystem::path& path,
                                        std::span<const std::uint8_t> bytes, int& error) {
  FileIdentity ignored;
  switch (writeOwnFile(path, bytes, OwnFileWrite::New, ignored, error)) {
    case OwnFileResult::Written:
      return CreateFileResult::Created;
    case OwnFileResult::Exists:
      return CreateFileResult::Exists;
    case OwnFileResult::NotOurs:
    case OwnFileResult::Failed:
      break;
  }
  return CreateFileResult::Failed;
}

OwnFileResult writeOwnFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           OwnFileWrite how, FileIdentity& identity, int& error) {
  error = 0;
  if (how == OwnFileWrite::Rewrite) {
    // Only the file an earlier write made: not a link put at its name, nor another file.
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      error = errno;
      return OwnFileResult::NotOurs;
    }
    if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_dev) != identity.device ||
        static_cast<std::uint64_t>(info.st_ino) != identity.inode) {
      error = ESTALE;
      return OwnFileResult::NotOurs;
    }
  }
  FileIdentity made;
  const std::filesystem::path folder = folderOf(path);
  std::string tempName;
  error = writeTempFile(folder, path, bytes, tempName, &made);
  if (error != 0) {
    return OwnFileResult::Failed;
  }
  if (how == OwnFileWrite::New) {
    // link() never replaces: a name taken meanwhile is told, not written over.
    OwnFileResult result = OwnFileResult::Failed;
    if (::link(tempName.c_str(), path.c_str()) == 0) {
      result = OwnFileResult::Written;
    } else if (errno == EEXIST) {
      result = OwnFileResult::Exists;
      error = EEXIST;
    } else {
      error = errno != 0 ? errno : EIO;
    }
    ::unlink(tempName.c_str());
    if (result != OwnFileResult::Written) {
      return result;
    }
  } else if (::rename(tempName.c_str(), path.c_str()) != 0) {
    // rename() replaces the name itself: a link there goes, what it points at is not touched.
    error = errno;
    ::unlink(tempName.c_str());
    return OwnFileResult::Failed;
  }
  identity = made;
  syncFolder(folder);
  return OwnFileResult::Written;
}

}  // namespace orvik
