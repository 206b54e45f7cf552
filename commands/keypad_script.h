#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {

// One run of the keypad boot-loader script. Whoever holds it owns the process: when it goes
// away, a script that is still running is ended and reaped, so no process outlives it.
class KeypadScript {
 public:
  // At most this much of what the script prints is kept: its last bytes, where a failing
  // script says why.
  static constexpr std::size_t kOutputLimit = 8192;

  virtual ~KeypadScript() = default;
  // The exit code once the script has ended, waiting for that at most `wait` (real time). No
  // value while it still runs, or when it ended without an exit code (killed by a signal).
  virtual std::optional<int> exitCode(std::chrono::milliseconds wait) = 0;
  // Ends the script if it still runs, with everything it started, and reaps it.
  virtual void terminate() = 0;
  // What the script wrote to its standard output and error (the last kOutputLimit bytes);
  // complete once it has ended and been reaped.
  virtual std::string output() = 0;
};

// Starts the boot-loader script; the keypad command is tested with a fake one.
class KeypadScriptLauncher {
 public:
  virtual ~KeypadScriptLauncher() = default;
  // Starts the script with the arguments (after the script's own name) and the environment
  // the tool has, with the NAME=VALUE entries of `environment` in place of any of the same
  // name. Nothing when it could not be started, and then no process is left.
  virtual std::unique_ptr<KeypadScript> start(const std::filesystem::path& script,
                                              const std::vector<std::string>& arguments,
                                              const std::vector<std::string>& environment) = 0;
};

// Runs the script as a process of its own: posix_spawn with the argument vector (no shell in
// between, so a path needs no quoting), in a process group of its own, with nothing on its
// standard input and its standard output and error collected (a hidden window shows no
// console, but a failing script's words are the only clue the user gets). A script that does
// not end is asked to stop (SIGTERM to its group), then killed (SIGKILL) after
// `terminateGrace`.
class PosixKeypadScriptLauncher final : public KeypadScriptLauncher {
 public:
  static constexpr std::chrono::milliseconds kDefaultTerminateGrace{2000};

  explicit PosixKeypadScriptLauncher(
      std::chrono::milliseconds terminateGrace = kDefaultTerminateGrace)
      : terminateGrace_(terminateGrace) {}

  std::unique_ptr<KeypadScript> start(const std::filesystem::path& script,
                                      const std::vector<std::string>& arguments,
                                      const std::vector<std::string>& environment) override;

 private:
  std::chrono::milliseconds terminateGrace_;
};

// The lines of a script's output that are fit to show the user: control characters and bytes
// that are not UTF-8 replaced, blank lines dropped, at most the last `maxLines`, each cut to
// `maxChars` characters.
std::vector<std::string> displayLines(std::string_view output, std::size_t maxLines,
                                      std::size_t maxChars);

}  // namespace orvik
