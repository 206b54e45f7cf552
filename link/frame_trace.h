#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <span>
#include <string_view>

#include "base/clock.h"

namespace orvik {

// The switchable frame trace: every frame sent to and received from the radio, hex-dumped with
// a time stamp, in "trace.log" beside the error log. It is kept apart from err.log, whose
// 1000-line restart would otherwise wipe the failure reports.
class FrameTrace {
 public:
  FrameTrace() = default;
  ~FrameTrace();
  FrameTrace(const FrameTrace&) = delete;
  FrameTrace& operator=(const FrameTrace&) = delete;

  // A trace file grows to this size before it is set aside for a new one.
  static constexpr std::size_t kDefaultMaxBytes = 16 * 1024 * 1024;

  // Starts tracing into the given file (appending, readable by its owner only); false when it
  // cannot be opened. A file that reaches maxBytes becomes <file>.1 and a new one starts.
  bool enable(const std::filesystem::path& file, std::size_t maxBytes = kDefaultMaxBytes);
  void disable();
  bool enabled() const;

  // One line: time stamp, direction ("TX", "RX", "ECHO"), the bytes, and an optional note.
  void frame(std::string_view direction, std::span<const std::uint8_t> bytes,
             std::string_view note = {});

 private:
  bool openLocked();

  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
  std::filesystem::path path_;
  std::size_t maxBytes_ = kDefaultMaxBytes;
  std::size_t written_ = 0;
};

// "trace.log" in the error log's folder.
std::filesystem::path defaultTracePath();

}  // namespace orvik
