#include "errors/error_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <system_error>

#include "base/private_files.h"

namespace orvik {
namespace {

// Holds the lock that the processes sharing a log file take around each of its lines.
class FileLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FileLock() { ::flock(fd_, LOCK_UN); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ErrorLog::~ErrorLog() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void ErrorLog::setLogDirectory(const std::string& base) {
  std::string dir = base.empty() ? std::string("..") : base;
  if (dir.back() != '/') {
    dir += '/';
  }
  dir += "log";
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) {
    // The per-machine folder may not exist yet on a fresh machine; a failure shows only as
    // later failures to open the file.
    std::filesystem::create_directories(dir, ec);
  }
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  linesLeft_ = 0;
  directory_ = dir;
  path_ = dir + "/err.log";
}

std::filesystem::path ErrorLog::directory() const {
  std::lock_guard lock(mutex_);
  return directory_;
}

std::filesystem::path ErrorLog::path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

std::uint64_t ErrorLog::linesWritten() const {
  std::lock_guard lock(mutex_);
  return linesWritten_;
}

void ErrorLog::setTimeSource(std::function<std::time_t()> now) {
  std::lock_guard lock(mutex_);
  now_ = std::move(now);
}

void ErrorLog::setObserver(std::function<void(std::string_view text)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

bool ErrorLog::openForAppend() {
  // The failures name the radios and their owners' serial numbers: the user's alone.
  fd_ = openPrivateFile(path_, O_WRONLY | O_APPEND);
  if (fd_ < 0) {
    switch (errno) {
      case ELOOP:
        openProblem_ = "it is a symbolic link";
        break;
      case EINVAL:
        openProblem_ = "it is not a regular file";
        break;
      case EPERM:
        openProblem_ = "it belongs to another user";
        break;
      default:
        openProblem_ = std::strerror(errno);
    }
    return false;
  }
  openProblem_.clear();
  linesLeft_ = kLinesPerFile;
  return true;
}

bool ErrorLog::logLine(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = formatTextV(format, args);
  va_end(args);
  return logText(text);
}

bool ErrorLog::logText(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (path_.empty()) {
    return false;
  }
  if (fd_ < 0 && !openForAppend()) {
    return false;
  }
  const std::time_t when = now_ ? now_() : std::time(nullptr);
  std::string line = logTimePrefix(when);
  // A radio's or a file's text in the line cannot act on the terminal that shows the log.
  line += printableLines(text);
  line += '\n';
  bool written = false;
  {
    const FileLock fileLock(fd_);
    if (linesLeft_ == 0) {
      // Start afresh: empty the file, then go on appending. Under the lock, so that no other
      // process is halfway through a line.
      if (::ftruncate(fd_, 0) != 0) {
        return false;
      }
      linesLeft_ = kLinesPerFile;
    }
    // One write per line, so that a line is whole on disk when this returns.
    written = writeAll(fd_, line);
    --linesLeft_;
  }
  if (written) {
    ++linesWritten_;
  }
  if (written && observer_) {
    observer_(text);
  }
  return written;
}

std::string ErrorLog::openProblem() const {
  std::lock_guard lock(mutex_);
  return openProblem_;
}

ErrorLog& errorLog() {
  static ErrorLog log;
  return log;
}

std::string logTimePrefix(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buffer[32];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "[ %m-%d %H:%M:%S ] ", &local);
  return std::string(buffer, n);
}

}  // namespace orvik
