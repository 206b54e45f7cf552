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

// Holds back the signal of a write past the file size limit on this thread, so that the write
// fails with EFBIG and the caller can clean up instead of the process being ended with the
// temporary file left behind. A signal raised meanwhile is taken off before the mask goes back.
class FileSizeSignalBlock {
 public:
  FileSizeSignalBlock() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGXFSZ);
    blocked_ = ::pthread_sigmask(SIG_BLOCK, &set_, &old_) == 0;
  }
  ~FileSizeSignalBlock() {
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
  FileSizeSignalBlock(const FileSizeSignalBlock&) = delete;
  FileSizeSignalBlock& operator=(const FileSizeSignalBlock&) = delete;

 private:
  sigset_t set_{};
  sigset_t old_{};
  bool blocked_ = false;
};

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

CreateFileResult createFileWithContents(const std::filesystem::path& path,
                                        std::span<const std::uint8_t> bytes, int& error) {
  error = 0;
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  std::string tempName = hiddenTempTemplate(folder, path);
  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return CreateFileResult::Failed;
  }
  const auto failed = [&error] {
    if (error == 0) {
      error = errno != 0 ? errno : EIO;
    }
  };
  error = writeAll(fd, bytes);
  bool ok = error == 0;
  if (ok && ::fsync(fd) != 0) {
    failed();
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    failed();
    ok = false;
  }
  // link() takes the name only when nobody has it; the temporary name goes either way.
  CreateFileResult result = CreateFileResult::Failed;
  if (ok) {
    if (::link(tempName.c_str(), path.c_str()) == 0) {
      result = CreateFileResult::Created;
    } else if (errno == EEXIST) {
      result = CreateFileResult::Exists;
      error = EEXIST;
    } else {
      failed();
    }
  }
  ::unlink(tempName.c_str());
  if (result == CreateFileResult::Created) {
    syncFolder(folder);
  }
  return result;
}

}  // namespace orvik
