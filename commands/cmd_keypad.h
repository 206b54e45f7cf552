#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commands/keypad_script.h"
#include "exec/command.h"

namespace orvik {

// Updates the keypad controller's firmware: runs the boot-loader script against the cable's
// COM port (which the caller has closed), waits ten fixed cycles while showing progress and
// judges the update by the script's exit code, 2 meaning success. A script still running then
// has failed; it is ended and reaped before the command returns, so that it cannot hold the
// cable. Adds no lines to the error text; how the script ended and what it printed are kept
// for the caller's report.
class CmdKeypad : public Command {
 public:
  static constexpr int kCycles = 10;
  static constexpr unsigned kProgressPerCycle = 10;
  // The new keypad (kind 1) takes less time to program than the others.
  static constexpr std::uint8_t kNewKeypadKind = 1;
  static constexpr std::chrono::milliseconds kNewKeypadCycle{10500};
  static constexpr std::chrono::milliseconds kOtherKeypadCycle{23500};
  static constexpr std::chrono::milliseconds kBeforeEnd{100};
  static constexpr int kSuccessExitCode = 2;
  // The environment variable that names the cable's device file for the script: the COM
  // number alone cannot tell a pseudo-terminal or another kind of tty from the converter of
  // that number.
  static constexpr const char* kCableDeviceVariable = "ORVIK_CABLE_DEVICE";
  // The script's last lines kept for the user, and the longest line.
  static constexpr std::size_t kOutputLines = 5;
  static constexpr std::size_t kOutputLineChars = 200;

  // Starts the script as a process of its own.
  CmdKeypad();
  explicit CmdKeypad(std::unique_ptr<KeypadScriptLauncher> launcher);

  bool execute() override;
  void reportProgress(unsigned done, unsigned total) override;

  // Another way of starting the script (the tests' boot-loaders).
  void setLauncher(std::unique_ptr<KeypadScriptLauncher> launcher) {
    launcher_ = std::move(launcher);
  }
  // How the last run's script ended, as an error line; empty after a success.
  const std::string& scriptEnding() const { return scriptEnding_; }
  // The last lines the last run's script printed, fit to show.
  const std::vector<std::string>& scriptOutput() const { return scriptOutput_; }

  // The boot-loader script and the keypad firmware file of a kind, below the base folder.
  static std::filesystem::path scriptPath(const std::filesystem::path& base);
  static std::filesystem::path firmwarePath(const std::filesystem::path& base, std::uint8_t kind);
  static std::chrono::milliseconds cycleTime(std::uint8_t kind);

  // The tool's base folder, which holds driver/ (the parent of the executable's folder, set
  // by the front end); empty means "..", from the current folder.
  std::filesystem::path baseFolder;

 private:
  std::unique_ptr<KeypadScriptLauncher> launcher_;
  std::string scriptEnding_;
  std::vector<std::string> scriptOutput_;
};

}  // namespace orvik
