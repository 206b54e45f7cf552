#include "link/frame_trace.h"

#include <chrono>
#include <ctime>
#include <string>

#include "base/text.h"
#include "errors/error_log.h"

namespace orvik {

FrameTrace::~FrameTrace() {
  disable();
}

bool FrameTrace::enable(const std::filesystem::path& file) {
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) {
    std::fclose(file_);
  }
  file_ = std::fopen(file.c_str(), "a");
  if (file_ != nullptr) {
    std::setvbuf(file_, nullptr, _IOLBF, 0);
  }
  return file_ != nullptr;
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
  std::fwrite(line.data(), 1, line.size(), file_);
}

std::filesystem::path defaultTracePath() {
  const std::filesystem::path dir = errorLog().directory();
  return dir.empty() ? std::filesystem::path("trace.log") : dir / "trace.log";
}

}  // namespace orvik
