#include "commands/cmd_keypad.h"

#include <optional>
#include <string>
#include <vector>

#include "exec/radio_info.h"

namespace orvik {
namespace {

std::filesystem::path driverFolder(const std::filesystem::path& base) {
  return (base.empty() ? std::filesystem::path("..") : base) / "driver";
}

}  // namespace

CmdKeypad::CmdKeypad() : CmdKeypad(std::make_unique<PosixKeypadScriptLauncher>()) {}

CmdKeypad::CmdKeypad(std::unique_ptr<KeypadScriptLauncher> launcher)
    : launcher_(std::move(launcher)) {
  resultFlag = true;
  progressSpan = 100;
  progressBase = 0;
}

std::filesystem::path CmdKeypad::scriptPath(const std::filesystem::path& base) {
  return driverFolder(base) / "blhost.sh";
}

std::filesystem::path CmdKeypad::firmwarePath(const std::filesystem::path& base,
                                              std::uint8_t kind) {
  return driverFolder(base) /
         (kind == kNewKeypadKind ? "Keypad_Firmware_New.bin" : "Keypad_Firmware.bin");
}

std::chrono::milliseconds CmdKeypad::cycleTime(std::uint8_t kind) {
  return kind == kNewKeypadKind ? kNewKeypadCycle : kOtherKeypadCycle;
}

void CmdKeypad::reportProgress(unsigned done, unsigned total) {
  sendScaledProgress(done, total);
}

bool CmdKeypad::execute() {
  // The keypad kind, the port number and the clock all come from the radio record.
  if (radioInfo == nullptr) {
    resultFlag = false;
    notifyStarted();
    notifyFinished();
    return resultFlag;
  }
  const std::uint8_t kind = radioInfo->keypadKind;
  const std::chrono::milliseconds cycle = cycleTime(kind);
  Clock& clock = radioInfo->clock();
  notifyStarted();

  // The port number the cable had when it was open; the caller has closed it for the script.
  const std::vector<std::string> arguments{"COM" + std::to_string(radioInfo->port().comPort()),
                                           firmwarePath(baseFolder, kind).string()};
  std::unique_ptr<KeypadScript> script = launcher_->start(scriptPath(baseFolder), arguments);

  // The update always takes the full time, whatever the script does meanwhile.
  for (int i = 0; i < kCycles; ++i) {
    progressBase += kProgressPerCycle;
    sendProgress(progressBase);
    clock.sleep(cycle);
  }

  std::optional<int> exitCode;
  if (script) {
    exitCode = script->exitCode(exitGrace);
    // A script that is still running would keep the cable from the tool's reconnection.
    script->terminate();
    script.reset();
  }
  resultFlag = exitCode == kSuccessExitCode;

  sendProgress(progressBase);
  clock.sleep(kBeforeEnd);
  sendProgress(0);
  notifyFinished();
  return resultFlag;
}

}  // namespace orvik
