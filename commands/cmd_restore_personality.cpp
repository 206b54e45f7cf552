#include "commands/cmd_restore_personality.h"

#include <chrono>
#include <optional>
#include <vector>

#include "commands/cmd_program.h"
#include "commands/personality_file.h"
#include "commands/personality_phases.h"
#include "exec/radio_info.h"

namespace orvik {
namespace {

constexpr std::uint8_t kTovrTestMode = 1;
constexpr std::uint8_t kSoftReset = 0;
constexpr std::chrono::milliseconds kBeforeProgressReset{100};

}  // namespace

bool CmdRestorePersonality::setBackupFile(const std::filesystem::path& path) {
  backupFile_ = path;
  return true;
}

bool CmdRestorePersonality::execute() {
  resultFlag = true;
  const std::string stepText = "Restore user-infor.";
  const auto fail = [this](UpdateFailure failure, std::initializer_list<std::string> arguments) {
    appendUpdateFailure(failure, arguments);
    resultFlag = false;
  };
  notifyStarted();

  // The reader says itself why a file is refused.
  std::optional<PersonalityBackup> saved = readPersonalityFile(backupFile_);
  resultFlag = saved.has_value();

  if (resultFlag && (radioInfo == nullptr || !radioInfo->connected)) {
    fail(UpdateFailure::NotConnected, {});
  }
  // The identity is read afresh: the radio on the cable may not be the one last shown.
  if (resultFlag && !radioInfo->readIdentity()) {
    fail(UpdateFailure::IdentityNotRead, {});
  }
  if (resultFlag) {
    const std::string serial = RadioInfo::serialText(radioInfo->serialBytes()).value_or("");
    const std::string model = RadioInfo::modelText(radioInfo->modelNumber).value_or("");
    // A radio without a readable serial number cannot be shown to be the same radio.
    if (serial.empty() || serial != saved->serial || model != saved->model) {
      fail(UpdateFailure::BackupOfAnotherRadio, {backupFile_.string(), saved->serial});
    }
  }

  std::vector<std::uint8_t> dataBuffer(kDataBufferSize);
  std::uint8_t opcode = 0;
  if (resultFlag) {
    const int result = radioInfo->engine().requestTestMode(kTovrTestMode, 0, 0, opcode, dataBuffer);
    if (result < 0 || opcode != TOVR::kAccepted) {
      fail(UpdateFailure::TovrTestMode, {});
    }
  }

  // The DYN blocks take the first half of the progress, the contacts the second.
  const unsigned half = progressSpan / 2;
  unsigned phaseBase = progressBase;
  unsigned phaseSpan = half;
  if (resultFlag) {
    PersonalityPhases::Hooks hooks;
    hooks.progress = [&](unsigned done, unsigned total) {
      sendProgress(scaledProgress(done, total, phaseSpan, phaseBase));
    };
    hooks.fail = fail;
    PersonalityPhases phases(radioInfo->engine(), dataBuffer, std::move(hooks));
    phases.backup() = std::move(*saved);
    phases.restoreDynBlocks();
    phaseBase += half;
    phaseSpan = progressSpan - half;
    if (resultFlag) {
      phases.restoreContacts();
    }
    phases.release();
  }

  // Nothing else of the radio changed, so there is no protection to put back: a soft reset
  // takes the radio out of test mode and starts it with the restored blocks.
  if (resultFlag && radioInfo->engine().resetDevice(kSoftReset, opcode, dataBuffer) < 0) {
    fail(UpdateFailure::SoftReset, {});
  }

  sendProgress(progressBase + progressSpan);
  if (radioInfo != nullptr) {
    radioInfo->clock().sleep(kBeforeProgressReset);
  }
  sendProgress(0);
  notifyFinished();
  if (!resultFlag) {
    appendError(ErrorCategory::UPDATE, "%s", stepText.c_str());
  }
  return resultFlag;
}

}  // namespace orvik
