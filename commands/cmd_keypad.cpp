#include "commands/cmd_keypad.h"

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
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
  scriptEnding_.clear();
  scriptOutput_.clear();
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
  USBSerial& port = radioInfo->port();
  const std::int32_t comPort = port.comPort();
  const std::vector<std::string> arguments{"COM" + std::to_string(comPort),
                                           firmwarePath(baseFolder, kind).string()};
  const std::vector<std::string> environment{std::string(kCableDeviceVariable) + "=" +
                                             port.driver().comPortDevice(comPort)};
  const std::filesystem::path script = scriptPath(baseFolder);
  std::unique_ptr<KeypadScript> running = launcher_->start(script, arguments, environment);

  // The update always takes the full time, whatever the script does meanwhile.
  for (int i = 0; i < kCycles; ++i) {
    progressBase += kProgressPerCycle;
    sendProgress(progressBase);
    clock.sleep(cycle);
  }

  // Read once: the cycles are the script's whole time, and one still running has failed.
  const bool started = running != nullptr;
  std::optional<int> exitCode;
  if (running) {
    exitCode = running->exitCode(std::chrono::milliseconds(0));
    // A script that is still running would keep the cable from the tool's reconnection.
    running->terminate();
    scriptOutput_ = displayLines(running->output(), kOutputLines, kOutputLineChars);
    running.reset();
  }
  resultFlag = exitCode == kSuccessExitCode;
  if (!resultFlag) {
    const std::string name = script.string();
    if (!started) {
      scriptEnding_ =
          formatText("Error:the keypad boot-loader [%s] could not be started.", name.c_str());
    } else if (exitCode) {
      scriptEnding_ = formatText("Error:the keypad boot-loader [%s] ended with exit code [%d].",
                                 name.c_str(), *exitCode);
    } else {
      scriptEnding_ = formatText(
          "Error:the keypad boot-loader [%s] gave no exit code within its time and was ended.",
          name.c_str());
    }
  }

  sendProgress(progressBase);
  clock.sleep(kBeforeEnd);
  sendProgress(0);
  notifyFinished();
  return resultFlag;
}

}  // namespace orvik
