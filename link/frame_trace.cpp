#include "link/frame_trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <string>
#include <system_error>

#include "base/private_files.h"
#include "base/text.h"
#include "errors/error_log.h"

namespace orvik {

FrameTrace::~FrameTrace() {
  disable();
}

bool FrameTrace::enable(const std::filesystem::path& file, std::size_t maxBytes) {
  std::lock_guard lock(mutex_);
  path_ = file;
  maxBytes_ = maxBytes;
  return openLocked();
}

bool FrameTrace::openLocked() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  // Every frame is in it, the owners' contacts too: the user's alone.
  const int fd = openPrivateFile(path_, O_WRONLY | O_APPEND);
  if (fd < 0) {
    return false;
  }
  file_ = ::fdopen(fd, "a");
  if (file_ == nullptr) {
    ::close(fd);
    return false;
  }
  std::setvbuf(file_, nullptr, _IOLBF, 0);
  struct stat info {};
  written_ = ::fstat(fd, &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
  return true;
}

void FrameTrace::disable() {
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

bool FrameTrace::enabled() const {
  std::lock_guard lock(mutex_);
  return file_ != nullptr;
}

void FrameTrace::frame(std::string_view direction, std::span<const std::uint8_t> bytes,
                       std::string_view note) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) {
    return;
  }
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%m-%d %H:%M:%S", &local);
  std::string line = formatText("[ %s.%03d ] ", stamp, static_cast<int>(millis));
  line += direction;
  line += ' ';
  line += hexDump(bytes);
  if (!note.empty()) {
    line += "  (";
    line += note;
    line += ')';
  }
  line += '\n';
  if (written_ + line.size() > maxBytes_) {
    // The trace keeps its newest part: the full file becomes trace.log.1, replacing an older
    // one, and a new file starts.
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    std::filesystem::rename(path_, path_.string() + ".1", ignored);
    if (!openLocked()) {
      return;
    }
  }
  written_ += std::fwrite(line.data(), 1, line.size(), file_);
}

std::filesystem::path defaultTracePath() {
  const std::filesystem::path dir = errorLog().directory();
  return dir.empty() ? std::filesystem::path("trace.log") : dir / "trace.log";
}

}  // namespace orvik
