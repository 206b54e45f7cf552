#include "errors/error_log.h"

#include <cstdarg>
#include <system_error>

namespace orvik {

ErrorLog::~ErrorLog() {
  if (file_ != nullptr) {
    std::fclose(file_);
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
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
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

bool ErrorLog::openForAppend() {
  file_ = std::fopen(path_.c_str(), "a");
  if (file_ == nullptr) {
    return false;
  }
  std::setvbuf(file_, nullptr, _IONBF, 0);
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
  if (file_ == nullptr && !openForAppend()) {
    return false;
  }
  if (linesLeft_ == 0) {
    // Start afresh: empty the file, then go on appending.
    std::fclose(file_);
    file_ = nullptr;
    std::FILE* emptied = std::fopen(path_.c_str(), "w");
    if (emptied == nullptr) {
      return false;
    }
    std::fclose(emptied);
    if (!openForAppend()) {
      return false;
    }
  }
  const std::time_t when = now_ ? now_() : std::time(nullptr);
  std::string line = logTimePrefix(when);
  line += text;
  line += '\n';
  // One write per line, so that a line is whole on disk when this returns.
  const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size();
  --linesLeft_;
  if (written) {
    ++linesWritten_;
  }
  return written;
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
