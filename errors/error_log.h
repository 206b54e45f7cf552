#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "base/text.h"

namespace orvik {

// The error log: "err.log" in a "log" folder, time-stamped lines, started afresh every 1000
// lines. Every line is on disk when logLine returns. Several processes may share the file (the
// update station runs one per radio): each line is one write under a lock on the file, and the
// restart empties the file under the same lock, so no line is torn or mixed with another.
class ErrorLog {
 public:
  static constexpr int kLinesPerFile = 1000;

  ErrorLog() = default;
  ~ErrorLog();
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;

  // Points the log at <base>/log/err.log (".." when base is empty), creating the folder.
  void setLogDirectory(const std::string& base);
  // The folder of the log ("" until setLogDirectory has run); the frame trace lies beside it.
  std::filesystem::path directory() const;
  std::filesystem::path path() const;

  bool logLine(const char* format, ...) ORVIK_PRINTF(2, 3);
  // Writes the text as it stands, never as a format.
  bool logText(std::string_view text);
  // How many lines this run has written; a caller that compares it before and after an
  // action knows whether the log holds anything about that action.
  std::uint64_t linesWritten() const;
  // Why the log could not be opened the last time it was tried ("" when it could): a link or
  // another user's file at its name is never written through.
  std::string openProblem() const;

  // Where the time stamps come from; the local wall clock unless a test sets another.
  void setTimeSource(std::function<std::time_t()> now);
  // Told every entry written, without its time stamp, after it is on disk; it must not log.
  void setObserver(std::function<void(std::string_view text)> observer);

 private:
  bool openForAppend();

  mutable std::mutex mutex_;
  std::filesystem::path directory_;
  std::filesystem::path path_;
  int fd_ = -1;
  int linesLeft_ = 0;
  std::uint64_t linesWritten_ = 0;
  std::string openProblem_;
  std::function<std::time_t()> now_;
  std::function<void(std::string_view)> observer_;
};

// The process-wide error log.
ErrorLog& errorLog();

// "[ %m-%d %H:%M:%S ] " for the given time in local time.
std::string logTimePrefix(std::time_t when);

}  // namespace orvik
