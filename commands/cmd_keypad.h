#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "commands/keypad_script.h"
#include "exec/command.h"

namespace orvik {

// Updates the keypad controller's firmware: runs the boot-loader script against the cable's
// COM port (which the caller has closed), waits ten fixed cycles while showing progress and
// judges the update by the script's exit code, 2 meaning success. Adds no lines to the error
// text.
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
  // How long the script may still take to end once the cycles are over.
  static constexpr std::chrono::milliseconds kDefaultExitGrace{5000};

  // Starts the script as a process of its own.
  CmdKeypad();
  explicit CmdKeypad(std::unique_ptr<KeypadScriptLauncher> launcher);

  bool execute() override;
  void reportProgress(unsigned done, unsigned total) override;

  // The boot-loader script and the keypad firmware file of a kind, below the base folder.
  static std::filesystem::path scriptPath(const std::filesystem::path& base);
  static std::filesystem::path firmwarePath(const std::filesystem::path& base, std::uint8_t kind);
  static std::chrono::milliseconds cycleTime(std::uint8_t kind);

  // The tool's base folder, which holds driver/ (the parent of the executable's folder, set
  // by the front end); empty means "..", from the current folder.
  std::filesystem::path baseFolder;
  // Real time the script may still take to end after the cycles; a script still running
  // then counts as failed and is ended, so that it does not hold the cable.
  std::chrono::milliseconds exitGrace = kDefaultExitGrace;

 private:
  std::unique_ptr<KeypadScriptLauncher> launcher_;
};

}  // namespace orvik
