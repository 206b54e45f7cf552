#include "commands/cmd_restore_personality.h"

#include <chrono>
#include <optional>
#include <vector>

#include "codeplug/cpg.h"
#include "codeplug/update_files.h"
#include "commands/cmd_program.h"
#include "commands/personality_file.h"
#include "commands/personality_phases.h"
#include "exec/radio_info.h"

namespace orvik {
namespace {

constexpr std::uint8_t kTovrTestMode = 1;
constexpr std::chrono::milliseconds kBeforeProgressReset{100};

// Every block of the file must go where the package's map puts the DYN block: a file whose
// blocks were changed and digested again must not write into other blocks.
bool blocksInsideDyn(const PersonalityBackup& backup, const CpgBlock& dyn) {
  for (const PersonalityBackup::Block& block : backup.blocks) {
    if (block.blockType != PersonalityPhases::kDynBlockType ||
        !PersonalityPhases::insideDynBlock(dyn, block.address, block.bytes.size())) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool CmdRestorePersonality::setBackupFile(const std::filesystem::path& path) {
  backupFile_ = path;
  return true;
}

bool CmdRestorePersonality::setAddressMapFile(const std::filesystem::path& path) {
  addressMapFile_ = path;
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

  // The file is checked whole before the radio is spoken to.
  if (resultFlag) {
    Cpg map;
    KxkFile file;
    if (!loadAddressMapFile(addressMapFile_, file, map)) {
      fail(UpdateFailure::AddressMap, {addressMapFile_.string()});
    } else if (!blocksInsideDyn(*saved, map.block(DYN))) {
      fail(UpdateFailure::DynBlockPlace, {kCpgBlocks[DYN].name});
    }
  }

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
  // From the first block written to the re-protection the program must not be ended.
  struct Writing {
    std::atomic<bool>& flag;
    explicit Writing(std::atomic<bool>& on) : flag(on) { flag.store(true); }
    ~Writing() { flag.store(false); }
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;
  };
  std::optional<Writing> writing;
  if (resultFlag) {
    writing.emplace(writing_);
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

  // Left unprotected by the update that failed, the radio gets the protection of its layout
  // back and starts with the restored blocks.
  if (resultFlag) {
    reprotectRadio(radioInfo->engine(), dataBuffer, std::nullopt, fail);
  }
  writing.reset();

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
