#include "commands/cmd_program.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

#include "base/text.h"
#include "codeplug/cpg.h"
#include "codeplug/update_files.h"
#include "commands/personality_file.h"
#include "commands/personality_phases.h"
#include "exec/radio_info.h"

namespace orvik {
namespace {

using Failure = UpdateFailure;
using Category = ErrorCategory;

constexpr UpdateFailureLine kFailureLines[] = {
    {Failure::NotConnected, Category::PROT, "Error:no port is connected (0x001)."},
    {Failure::FlashTestMode, Category::UPDATE,
     "Error:failed to put radio in FLASH test mode [%d] (0x002)."},
    {Failure::UnknownFlashLayout, Category::UPDATE,
     "Error:the flash layout [%d] of the radio is not known (0x003)."},
    {Failure::FirstBaudSwitch, Category::UPDATE, "Error:failed to set baud rate to [%d] (0x006)."},
    {Failure::AddressMap, Category::INI, "Error:failed to parse address file [%s] (0x007)."},
    {Failure::DynBlockPlace, Category::INI,
     "Error:the address or length of block [%s] configured is not matched to the address map "
     "(0x008)."},
    {Failure::DynRead, Category::UPDATE, "Error:failed to memRead block [%s] (0x00a)."},
    {Failure::ContactRead, Category::UPDATE, "Error:failed to read contact index [%d] (0x00b)."},
    {Failure::FirmwareFile, Category::INI, "Error:failed to parse firmware file [%s] (0x00d)."},
    {Failure::FirmwareProtection, Category::UPDATE,
     "Error:failed to enter in protection mode [%d] (0x00e)."},
    {Failure::FirmwareErase, Category::UPDATE,
     "Error:failed to erase flash at address [%d] (0x00f)."},
    {Failure::FirmwarePiece, Category::UPDATE,
     "Error:failed to program flash at address [%d] (0x010)."},
    {Failure::FirmwareMagic, Category::UPDATE,
     "Error:failed to program flash at address [%d] (0x011)."},
    {Failure::DefaultBlockProtection, Category::UPDATE,
     "Error:failed to enter in protection mode [%d] (0x012)."},
    {Failure::CodeplugFile, Category::INI, "Error:failed to parse codeplug file [%s] (0x013)."},
    {Failure::DefaultBlockErase, Category::UPDATE,
     "Error:failed to erase Default block at address [%d] (0x014)."},
    {Failure::DefaultBlockPiece, Category::UPDATE,
     "Error:failed to program flash at address [%d] (0x015)."},
    {Failure::DynErase, Category::UPDATE, "Error:failed to erase DYNAMIC block (0x016)."},
    {Failure::FinalizeBaudSwitch, Category::UPDATE,
     "Error:failed to set baud rate to [%d] (0x01a)."},
    {Failure::HardReset, Category::UPDATE, "Error:failed to Hard reset radio (0x01b)."},
    {Failure::DefaultBlockCorrupted, Category::UPDATE, "Error:default block is corrupted (0x01c)."},
    {Failure::TovrTestMode, Category::UPDATE,
     "Error:failed to put radio in TOVR test mode (0x01d)."},
    {Failure::ResetAllBlocks, Category::UPDATE, "Error:failed to reset all blocks (0x01e)."},
    {Failure::RestoreFactoryBlock, Category::UPDATE,
     "Error:failed to restore factory block (0x01f)."},
    {Failure::DynWrite, Category::UPDATE, "Error:failed to memWrite block [%s] (0x020)."},
    {Failure::ContactWrite, Category::UPDATE, "Error:failed to write contact index [%d] (0x021)."},
    {Failure::MasterResetContacts, Category::UPDATE,
     "Error:failed to restore contact in PerformMasterReset (0x022)."},
    {Failure::ReprotectFlashTestMode, Category::UPDATE,
     "Error:failed to put radio in FLASH test mode [%d] (0x029)."},
    {Failure::FinalProtection, Category::UPDATE,
     "Error:failed to enter in protection mode [%d] (0x02a)."},
    {Failure::LastBaudSwitch, Category::UPDATE, "Error:failed to set baud rate to [%d] (0x02b)."},
    {Failure::SoftReset, Category::UPDATE, "Error:failed to soft reset radio (0x02c)."},
    {Failure::BackupNotSaved, Category::UPDATE,
     "Error:failed to save the personality backup [%s]."},
    {Failure::IdentityNotRead, Category::UPDATE, "Error:failed to read radio information."},
    {Failure::JournalNotWritten, Category::UPDATE,
     "Error:failed to record the update in the journal: %s."},
    {Failure::BackupOfAnotherRadio, Category::UPDATE,
     "Error:the backup file [%s] belongs to another radio [%s]."},
    {Failure::StoppedByUser, Category::UPDATE,
     "Error:the update was stopped at a safe point, as the user asked."},
    {Failure::PersonalityChangedSince, Category::UPDATE,
     "Error:the radio's personality has changed since the personality backup [%s] was taken; "
     "it was not written back."},
};

const UpdateFailureLine& lineOf(UpdateFailure failure) {
  const auto found = std::find_if(std::begin(kFailureLines), std::end(kFailureLines),
                                  [failure](const auto& line) { return line.failure == failure; });
  // Every enumerator has a row.
  return *found;
}

// Weights are fixed; a step that was not requested weighs nothing.
struct StepWeight {
  UpdateStep step;
  unsigned weight;
};
constexpr StepWeight kStepWeights[] = {
    {UpdateStep::PersonalityBackup, 1}, {UpdateStep::ContactBackup, 1},
    {UpdateStep::FirmwareErase, 1},     {UpdateStep::FirmwareProgramming, 5},
    {UpdateStep::DefaultBlock, 1},      {UpdateStep::PersonalityRestore, 1},
    {UpdateStep::ContactRestore, 1},
};

unsigned weightOf(std::uint32_t step) {
  for (const StepWeight& row : kStepWeights) {
    if (static_cast<std::uint32_t>(row.step) == step) {
      return row.weight;
    }
  }
  return 0;
}

// The image's first two bytes (its magic) are written last.
constexpr std::uint32_t kImageHeadSize = 2;
constexpr std::uint8_t kErase64K = 6;
constexpr std::uint8_t kErase4K = 4;
constexpr std::uint32_t kDefEraseUnit = 0x1000;
constexpr std::uint32_t kFlashPiece = TOVR::kMaxFlashPiece;
constexpr std::size_t kFollowUpBufferSize = 512;

constexpr std::uint8_t kFlashTestMode = 8;
constexpr std::uint8_t kTovrTestMode = 1;
constexpr std::uint8_t kHardReset = 1;
constexpr std::uint8_t kSoftReset = 0;
constexpr std::uint8_t kResetAllBlocks = 0x2E;
constexpr std::uint8_t kRestoreFactoryBlock = 0x27;
// Status word of the hard reset: either of these says the default block did not take; the
// other says the radio kept its factory block, which then needs no restore.
constexpr std::uint16_t kDefaultBlockBad = 0x0280;
constexpr std::uint16_t kFactoryBlockKept = 0x0040;

constexpr unsigned kAfterFirmwareEraseMs = 100;
constexpr unsigned kBeforeDefaultBlockMs = 100;
constexpr unsigned kBeforeHardResetMs = 200;
constexpr unsigned kAfterHardResetMs = 1000;
constexpr unsigned kAfterBlockResetMs = 100;
constexpr unsigned kBeforeProgressResetMs = 100;

const std::string kLinkBaudText = std::to_string(TOVR::kLinkBaudRate);

// The operation's own rule for an answer that did what was asked: an answer of another kind
// (a refusal) is a failure too, not only a missing answer.
bool accepted(int result, std::uint8_t opcode, std::uint8_t expected) {
  return result >= 0 && opcode == expected;
}

unsigned piecesOf(std::uint32_t bytes, std::uint32_t piece) {
  return (bytes + piece - 1) / piece;
}

}  // namespace

std::string updateFailureText(UpdateFailure failure, std::initializer_list<std::string> arguments) {
  const std::string format = lineOf(failure).format;
  std::string text;
  auto argument = arguments.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const bool placeholder =
        format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 'd' || format[i + 1] == 's');
    if (!placeholder) {
      text += format[i];
      continue;
    }
    if (argument != arguments.end()) {
      text += *argument++;
    }
    ++i;
  }
  return text;
}

ErrorCategory updateFailureCategory(UpdateFailure failure) {
  return lineOf(failure).category;
}

void appendUpdateFailure(UpdateFailure failure, std::initializer_list<std::string> arguments) {
  appendError(updateFailureCategory(failure), "%s", updateFailureText(failure, arguments).c_str());
}

bool reprotectRadio(TOVR& tovr, std::span<std::uint8_t> data, std::optional<int> flashLayout,
                    const UpdateFailHook& fail) {
  std::uint8_t opcode = 0;
  const int flashMode = tovr.requestTestMode(kFlashTestMode, 0, 0, opcode, data);
  if (!accepted(flashMode, opcode, TOVR::kAccepted)) {
    fail(Failure::ReprotectFlashTestMode, {std::to_string(kFlashTestMode)});
    return false;
  }
  if (!flashLayout) {
    flashLayout = flashMode >= 2 ? data[1] : -1;
  }
  // No guessing at the protection of a flash whose layout has no row.
  if (!knownFlashLayout(*flashLayout)) {
    fail(Failure::UnknownFlashLayout, {std::to_string(*flashLayout)});
    return false;
  }
  const std::uint16_t mode = flashLayoutRow(*flashLayout).finalMode;
  const int protection = tovr.setProtectionMode(mode, opcode, data);
  if (!accepted(protection, opcode, TOVR::kFlashAccepted)) {
    fail(Failure::FinalProtection, {std::to_string(mode)});
    return false;
  }
  if (tovr.radioBaudSwitch(0, opcode, data) < 0) {
    fail(Failure::LastBaudSwitch, {kLinkBaudText});
    return false;
  }
  if (tovr.resetDevice(kSoftReset, opcode, data) < 0) {
    fail(Failure::SoftReset, {});
    return false;
  }
  return true;
}

// What one run holds, created at its start and released at its end.
struct CmdProgram::Run {
  std::vector<std::uint8_t> dataBuffer = std::vector<std::uint8_t>(kDataBufferSize);
  std::array<std::uint8_t, kFollowUpBufferSize> followUpBuffer{};
  std::uint8_t opcode = 0;
  int flashLayout = -1;
  std::string stepText;
  unsigned startBase = 0;
  std::uint16_t statusWord = 0;
  // The step the personality phase in progress reports against.
  UpdateStep personalityStep = UpdateStep::PersonalityBackup;
  std::optional<PersonalityPhases> personality;
  // The interrupted update this run completes, if any.
  std::optional<Resume> resume;
  // The journal entry of this run, once it is written.
  std::optional<JournalEntry> journal;
  // A person decided that the saved personality is written back whatever the radio holds.
  bool overwriteDecided = false;
  // The contacts are read only to be compared: a read that fails tells something of the radio,
  // and does not fail the run.
  bool readingToCompare = false;
  bool compareReadFailed = false;

  std::span<std::uint8_t> data() { return dataBuffer; }
  const FlashLayoutRow& layout() const { return flashLayoutRow(flashLayout); }
};

CmdProgram::CmdProgram() = default;
CmdProgram::~CmdProgram() = default;

void CmdProgram::resumeInterrupted(JournalEntry entry, PersonalityBackup backup) {
  resume_ = Resume{std::move(entry), std::move(backup)};
}

bool CmdProgram::setCodeplugFile(const std::filesystem::path& path) {
  codeplugFile_ = path;
  return true;
}

bool CmdProgram::setFirmwareFile(const std::filesystem::path& path) {
  firmwareFile_ = path;
  return true;
}

bool CmdProgram::setAddressMapFile(const std::filesystem::path& path) {
  addressMapFile_ = path;
  return true;
}

void CmdProgram::requestFirmwareSteps() {
  selection_ |= kProgramFirmware;
  steps_.insert(static_cast<std::uint32_t>(UpdateStep::FirmwareErase));
  steps_.insert(static_cast<std::uint32_t>(UpdateStep::FirmwareProgramming));
}

void CmdProgram::requestCodeplugStep() {
  selection_ |= kProgramCodeplug;
  steps_.insert(static_cast<std::uint32_t>(UpdateStep::DefaultBlock));
}

void CmdProgram::requestPersonalitySteps() {
  steps_.insert(static_cast<std::uint32_t>(UpdateStep::PersonalityBackup));
  steps_.insert(static_cast<std::uint32_t>(UpdateStep::PersonalityRestore));
}

bool CmdProgram::setPersonalityBlocks(std::span<const PersonalityBlock> records) {
  personalityBlocks_.assign(records.begin(), records.end());
  return true;
}

void CmdProgram::fail(UpdateFailure failure, std::initializer_list<std::string> arguments) {
  appendUpdateFailure(failure, arguments);
  resultFlag = false;
}

unsigned CmdProgram::stepWeight(UpdateStep step) const {
  const auto number = static_cast<std::uint32_t>(step);
  if (!steps_.contains(number)) {
    return 0;
  }
  return static_cast<unsigned>(static_cast<float>(weightOf(number)) * progressScale_);
}

void CmdProgram::stepProgress(UpdateStep step, unsigned done, unsigned total) {
  sendProgress(scaledProgress(done, total, stepWeight(step), progressBase));
}

void CmdProgram::completeStep(UpdateStep step) {
  progressBase += stepWeight(step);
}

const char* updatePhaseName(unsigned phase) {
  static constexpr std::array<const char*, 7> kNames = {
      "", "backup", "erase", "firmware", "codeplug", "restore", "finalize"};
  return phase < kNames.size() ? kNames[phase] : "";
}

void CmdProgram::beginPhase(UpdatePhase phase) {
  notifyStep(static_cast<unsigned>(phase));
}

void CmdProgram::stopAtSafePoint() {
  if (succeeding() && stopRequested_.load()) {
    fail(Failure::StoppedByUser);
  }
}

void CmdProgram::wait(unsigned milliseconds) {
  if (radioInfo != nullptr) {
    radioInfo->clock().sleep(std::chrono::milliseconds(milliseconds));
  }
}

bool CmdProgram::execute() {
  // A run that does not reach its end (a fault thrown on the way) must not leave its steps,
  // files of an interrupted update or buffers to the next run.
  struct ForgetRun {
    CmdProgram& command;
    ~ForgetRun() {
      command.flashing_.store(false);
      command.stopRequested_.store(false);
      command.run_.reset();
      command.resume_.reset();
      command.overwriteDecided = false;
      command.selection_ = 0;
      command.steps_.clear();
    }
  } forget{*this};
  start();
  enterFlashMode();
  switchBaudRate();
  loadPackage();
  backupPersonality();
  saveBackupFile();
  // A stop asked for before anything is erased ends the run with the radio as it was, and
  // without a journal entry that would call it unfinished.
  stopAtSafePoint();
  startJournal();
  // From the first erase to the last piece of the default block, the program must not be
  // ended; a stop is taken only where the radio holds whole firmware.
  flashing_.store(true);
  stopAtSafePoint();
  eraseFirmwareRegion();
  programFirmware();
  stopAtSafePoint();
  programDefaultBlock();
  flashing_.store(false);
  stopAtSafePoint();
  finalize();
  restorePersonality();
  reprotect();
  end();
  return resultFlag;
}

void CmdProgram::start() {
  resultFlag = true;
  // A stop asked for before the run began holds (a signal between the question and the
  // start); the previous run's was dropped at its end.
  backupFile_.clear();
  backupProblem_.clear();
  personalityChangedSince_ = false;
  journalProblems_.clear();
  journalLeftUnfinished_ = false;
  journalNotStarted_ = false;
  journalNotWritten_.clear();
  radioChanged_ = resume_.has_value();
  run_ = std::make_unique<Run>();
  run_->resume = std::exchange(resume_, std::nullopt);
  run_->overwriteDecided = std::exchange(overwriteDecided, false);
  run_->stepText = "Update";
  run_->startBase = progressBase;
  unsigned sum = 0;
  for (const std::uint32_t step : steps_) {
    sum += weightOf(step);
  }
  if (sum != 0) {
    // A base already past the span leaves nothing to share out.
    const float left =
        progressSpan > progressBase ? static_cast<float>(progressSpan - progressBase) : 0.0F;
    progressScale_ = left / static_cast<float>(sum);
  }
  if (radioInfo != nullptr) {
    PersonalityPhases::Hooks hooks;
    hooks.progress = [this](unsigned done, unsigned total) {
      stepProgress(run_->personalityStep, done, total);
    };
    hooks.fail = [this](UpdateFailure failure, std::initializer_list<std::string> arguments) {
      if (run_->readingToCompare) {
        run_->compareReadFailed = true;
        return;
      }
      fail(failure, arguments);
    };
    run_->personality.emplace(radioInfo->engine(), run_->data(), std::move(hooks));
  }
  notifyStarted();
}

void CmdProgram::enterFlashMode() {
  if (radioInfo == nullptr || !radioInfo->connected) {
    fail(Failure::NotConnected);
    return;
  }
  TOVR& tovr = radioInfo->engine();
  Run& run = *run_;
  const int result = tovr.requestTestMode(kFlashTestMode, 0, 0, run.opcode, run.data());
  if (!accepted(result, run.opcode, TOVR::kAccepted)) {
    fail(Failure::FlashTestMode, {std::to_string(kFlashTestMode)});
    return;
  }
  // An answer too short to tell the layout leaves it unknown.
  run.flashLayout = result >= 2 ? run.dataBuffer[1] : -1;
  tovr.flashModeFollowUp(run.opcode, run.followUpBuffer);
  // Every run erases the dynamic block at the layout's address: a radio whose layout has no
  // row, or that did not tell it, must not be touched at all.
  if (!knownFlashLayout(run.flashLayout)) {
    fail(Failure::UnknownFlashLayout, {std::to_string(run.flashLayout)});
  }
}

void CmdProgram::switchBaudRate() {
  if (!succeeding()) {
    return;
  }
  if (radioInfo->engine().radioBaudSwitch(0, run_->opcode, run_->data()) < 0) {
    fail(Failure::FirstBaudSwitch, {kLinkBaudText});
  }
}

void CmdProgram::loadPackage() {
  run_->stepText = "Load address map.";
  if (!succeeding()) {
    return;
  }
  tellStage("checking the package");
  // The whole package is loaded and checked here, before the first erase: a damaged file
  // found half way through would leave the radio half updated.
  Cpg& cpg = radioInfo->cpg();
  if (!loadAddressMapFile(addressMapFile_, file_, cpg)) {
    fail(Failure::AddressMap, {addressMapFile_.string()});
    return;
  }
  if (!personalityBlocksFit(cpg.block(DYN))) {
    fail(Failure::DynBlockPlace, {kCpgBlocks[DYN].name});
    return;
  }
  if ((selection_ & kProgramFirmware) != 0 &&
      !loadFirmwareFile(firmwareFile_, file_, radioInfo->flash(), run_->layout())) {
    fail(Failure::FirmwareFile, {firmwareFile_.string()});
    return;
  }
  if ((selection_ & kProgramCodeplug) != 0 && !loadCodeplugFile(codeplugFile_, file_, cpg)) {
    fail(Failure::CodeplugFile, {codeplugFile_.string()});
  }
}

bool CmdProgram::personalityBlocksFit(const CpgBlock& dyn) const {
  if (run_->resume && keepPersonality) {
    // The saved personality is written back where it came from, which must be the DYN block.
    const std::vector<PersonalityBackup::Block>& saved = run_->resume->backup.blocks;
    return std::all_of(saved.begin(), saved.end(), [&](const PersonalityBackup::Block& block) {
      return block.blockType == PersonalityPhases::kDynBlockType &&
             PersonalityPhases::insideDynBlock(dyn, block.address, block.bytes.size());
    });
  }
  bool dynRecord = false;
  for (const PersonalityBlock& block : personalityBlocks_) {
    if (block.blockType != PersonalityPhases::kDynBlockType) {
      continue;
    }
    dynRecord = true;
    if (block.address < dyn.startAddress) {
      return false;
    }
    // A block that is read must lie wholly inside the map's DYN block: a length of zero, a
    // negative one from the configuration or one past the block would read nothing, fail
    // half way or read for hours.
    if (keepPersonality && !PersonalityPhases::insideDynBlock(dyn, block.address, block.size)) {
      return false;
    }
  }
  // Kept without knowing where it lies, the personality would be erased unread.
  return dynRecord || !keepPersonality;
}

void CmdProgram::backupPersonality() {
  PersonalityPhases* personality = run_->personality ? &*run_->personality : nullptr;
  if (succeeding() && keepPersonality && run_->resume) {
    if (!run_->overwriteDecided) {
      checkPersonalityAgainstEntry();
      if (!succeeding()) {
        personality->release();
        return;
      }
    }
    // The radio may hold reset blocks by now: the personality is the one saved before the
    // interrupted update's first erase.
    personality->backup() = run_->resume->backup;
    completeStep(UpdateStep::PersonalityBackup);
    completeStep(UpdateStep::ContactBackup);
    return;
  }
  if (succeeding() && keepPersonality) {
    tellStage("saving the personality");
    beginPhase(UpdatePhase::Backup);
    run_->stepText = "Keep user-infor";
    run_->personalityStep = UpdateStep::PersonalityBackup;
    personality->backupDynBlocks(personalityBlocks_);
  }
  completeStep(UpdateStep::PersonalityBackup);
  if (succeeding() && keepPersonality) {
    run_->personalityStep = UpdateStep::ContactBackup;
    personality->backupContacts();
  }
  if (!succeeding() && personality != nullptr) {
    personality->release();
  }
  completeStep(UpdateStep::ContactBackup);
}

namespace {

// The records' order: byte by byte, a shorter record first. Written out, since g++ 12 at -O3
// takes the library's memcmp of two byte vectors for an overread.
bool recordLess(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] != b[i]) {
      return a[i] < b[i];
    }
  }
  return a.size() < b.size();
}

// Each list's records in one order, so that lists are compared whatever order the radio keeps.
std::array<std::vector<std::vector<std::uint8_t>>, 4> sortedContacts(
    const PersonalityBackup& backup) {
  auto lists = backup.contactLists;
  for (auto& list : lists) {
    std::sort(list.begin(), list.end(), recordLess);
  }
  return lists;
}

bool blank(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == bytes[0]; });
}

// The stages in which the update erases, resets or writes back the personality.
bool touchesPersonality(const std::string& stage) {
  return stage == "programming the default block" || stage == "resetting the radio" ||
         stage == "restoring the personality";
}

}  // namespace

bool personalityExplainedByInterruption(const JournalEntry& entry, const PersonalityBackup& saved,
                                        const PersonalityBackup& now, bool contactsRead) {
  const auto sameBlocks = [&] {
    return saved.blocks.size() == now.blocks.size() &&
           std::equal(saved.blocks.begin(), saved.blocks.end(), now.blocks.begin(),
                      [](const PersonalityBackup::Block& a, const PersonalityBackup::Block& b) {
                        return a.address == b.address && a.bytes == b.bytes;
                      });
  };
  const auto savedContacts = sortedContacts(saved);
  const auto nowContacts = sortedContacts(now);
  if (contactsRead && sameBlocks() && savedContacts == nowContacts) {
    return true;
  }
  if (!touchesPersonality(entry.stage) || saved.blocks.size() != now.blocks.size()) {
    return false;
  }
  // By then the firmware was whole: a radio that runs another one was programmed since.
  if (entry.programFirmware &&
      RadioInfo::versionRecordText(now.firmwareVersion).value_or("") != entry.toolFirmware) {
    return false;
  }
  // Written back piece by piece: each piece is the saved one, or still erased or reset.
  for (std::size_t i = 0; i < saved.blocks.size(); ++i) {
    const auto& was = saved.blocks[i].bytes;
    const auto& is = now.blocks[i].bytes;
    if (saved.blocks[i].address != now.blocks[i].address || was.size() != is.size()) {
      return false;
    }
    for (std::size_t at = 0; at < is.size(); at += PersonalityPhases::kMemoryPiece) {
      const std::size_t n = std::min<std::size_t>(PersonalityPhases::kMemoryPiece, is.size() - at);
      const auto piece = std::span(is).subspan(at, n);
      if (!std::equal(piece.begin(), piece.end(), was.begin() + static_cast<long>(at)) &&
          !blank(piece)) {
        return false;
      }
    }
  }
  for (std::size_t list = 0; contactsRead && list < nowContacts.size(); ++list) {
    for (const auto& record : nowContacts[list]) {
      if (!std::binary_search(savedContacts[list].begin(), savedContacts[list].end(), record,
                              recordLess)) {
        return false;
      }
    }
  }
  return true;
}

void CmdProgram::checkPersonalityAgainstEntry() {
  tellStage("checking the radio's personality against the saved one");
  beginPhase(UpdatePhase::Backup);
  run_->stepText = "Keep user-infor";
  PersonalityPhases& personality = *run_->personality;
  const PersonalityBackup& saved = run_->resume->backup;
  std::vector<PersonalityBlock> blocks;
  for (const PersonalityBackup::Block& block : saved.blocks) {
    blocks.push_back(PersonalityBlock{block.blockType, block.address,
                                      static_cast<std::uint32_t>(block.bytes.size())});
  }
  run_->personalityStep = UpdateStep::PersonalityBackup;
  personality.backupDynBlocks(blocks);
  personality.backup().firmwareVersion = radioInfo->firmwareVersionRecord;
  personality.backup().codeplugVersion = radioInfo->codeplugVersionRecord;
  bool contactsRead = false;
  if (succeeding()) {
    // A contact restore cut off half way leaves lists the radio cannot read back.
    run_->personalityStep = UpdateStep::ContactBackup;
    run_->readingToCompare = true;
    contactsRead = personality.backupContacts() && !run_->compareReadFailed;
    run_->readingToCompare = false;
  }
  if (succeeding() && !personalityExplainedByInterruption(run_->resume->entry, saved,
                                                          personality.backup(), contactsRead)) {
    personalityChangedSince_ = true;
    fail(Failure::PersonalityChangedSince, {run_->resume->entry.backupFile.string()});
  }
}

void CmdProgram::noteJournalProblem(const std::string& reason) {
  journalProblems_.push_back(reason);
}

void CmdProgram::saveBackupFile() {
  if (!succeeding() || !keepPersonality) {
    return;
  }
  if (run_->resume) {
    // That backup stays the one of record; no new one replaces it.
    backupFile_ = run_->resume->entry.backupFile;
    return;
  }
  // The backup leaves memory before anything is erased, so that a failed restore, a crash or
  // a pulled cable cannot take the owner's data with it.
  PersonalityBackup& backup = run_->personality->backup();
  backup.model = RadioInfo::modelText(radioInfo->modelNumber).value_or("");
  backup.serial = RadioInfo::serialText(radioInfo->serialBytes()).value_or("");
  backup.firmwareVersion = radioInfo->firmwareVersionRecord;
  backup.codeplugVersion = radioInfo->codeplugVersionRecord;
  if (backupFolder.empty()) {
    backupProblem_ = "no folder for it";
    fail(Failure::BackupNotSaved, {""});
    return;
  }
  const auto when = std::chrono::system_clock::now();
  const std::optional<std::filesystem::path> saved =
      savePersonalityBackup(backupFolder, backup, when, backupProblem_);
  if (!saved) {
    fail(Failure::BackupNotSaved, {personalityBackupPath(backupFolder, backup, when).string()});
    return;
  }
  backupFile_ = *saved;
}

void CmdProgram::startJournal() {
  if (!succeeding() || journalFolder.empty()) {
    return;
  }
  JournalEntry entry;
  if (run_->resume) {
    entry = run_->resume->entry;
  } else {
    entry.serial = RadioInfo::serialText(radioInfo->serialBytes()).value_or("");
    entry.model = RadioInfo::modelText(radioInfo->modelNumber).value_or("");
    entry.privateId = RadioInfo::privateIdText(radioInfo->privateId).value_or("");
    entry.backupFile = backupFile_;
    entry.firmwareFile = firmwareFile_;
    entry.codeplugFile = codeplugFile_;
    entry.addressMapFile = addressMapFile_;
    entry.programFirmware = (selection_ & kProgramFirmware) != 0;
    entry.programCodeplug = (selection_ & kProgramCodeplug) != 0;
    entry.keepPersonality = keepPersonality;
    entry.radioFirmware =
        RadioInfo::versionRecordText(radioInfo->firmwareVersionRecord).value_or("");
    entry.radioCodeplug =
        RadioInfo::versionRecordText(radioInfo->codeplugVersionRecord).value_or("");
    entry.toolFirmware = toolFirmwareVersion;
    entry.toolCodeplug = toolCodeplugVersion;
    entry.packageSha256 = packageSha256;
    entry.started = localTimeText(std::chrono::system_clock::now());
    // What a completion checks the package's files against, wherever they lie by then.
    const auto digestOf = [](bool used, const std::filesystem::path& path) {
      return used ? fileDigest(path).value_or("") : std::string();
    };
    entry.firmwareDigest = digestOf(entry.programFirmware, entry.firmwareFile);
    entry.codeplugDigest = digestOf(entry.programCodeplug, entry.codeplugFile);
    entry.addressMapDigest = digestOf(true, entry.addressMapFile);
  }
  entry.stage = "starting";
  entry.finished = false;
  std::string reason;
  if (!UpdateJournal(journalFolder).write(entry, reason)) {
    // Nothing is erased without a record from which an interruption can be made good.
    noteJournalProblem(reason);
    journalNotStarted_ = true;
    journalNotWritten_ = journalFolder;
    fail(Failure::JournalNotWritten, {reason});
    return;
  }
  run_->journal = std::move(entry);
}

void CmdProgram::tellStage(const char* stage) {
  if (succeeding() && stageObserver) {
    stageObserver(stage);
  }
}

void CmdProgram::journalStage(const char* stage) {
  tellStage(stage);
  if (!succeeding() || !run_->journal) {
    return;
  }
  run_->journal->stage = stage;
  // The entry already says the update is unfinished; a stage that cannot be noted changes
  // nothing of how it is completed, so the run goes on, and the user is told at its end.
  std::string reason;
  if (!UpdateJournal(journalFolder).write(*run_->journal, reason)) {
    appendError(ErrorCategory::UPDATE, "Error:failed to note the stage [%s] in the journal: %s.",
                stage, reason.c_str());
    noteJournalProblem(reason);
  }
}

void CmdProgram::eraseFirmwareRegion() {
  const bool firmware = (selection_ & kProgramFirmware) != 0;
  journalStage("erasing the firmware region");
  if (succeeding() && firmware) {
    beginPhase(UpdatePhase::Erase);
    run_->stepText = "Update FW.";
  }
  if (succeeding()) {
    radioChanged_ = true;
    // Also without firmware: the radio expects the firmware stage's mode before the rest.
    const std::uint16_t mode = run_->layout().firmwareMode;
    const int result = radioInfo->engine().setProtectionMode(mode, run_->opcode, run_->data());
    if (!accepted(result, run_->opcode, TOVR::kFlashAccepted)) {
      fail(Failure::FirmwareProtection, {std::to_string(mode)});
    }
  }
  if (succeeding() && firmware) {
    for (const std::uint32_t unit : kFirmwareEraseUnits) {
      std::uint32_t address = unit;
      const int result =
          radioInfo->engine().eraseFlash(kErase64K, address, run_->opcode, run_->data());
      if (!accepted(result, run_->opcode, TOVR::kFlashAccepted)) {
        fail(Failure::FirmwareErase, {std::to_string(unit)});
        break;
      }
    }
    wait(kAfterFirmwareEraseMs);
  }
  completeStep(UpdateStep::FirmwareErase);
}

void CmdProgram::programFirmware() {
  if (succeeding() && (selection_ & kProgramFirmware) != 0) {
    beginPhase(UpdatePhase::Firmware);
    journalStage("programming the firmware");
    TOVR& tovr = radioInfo->engine();
    const std::span<const std::uint8_t> image = radioInfo->flash().image();
    const auto length = static_cast<std::uint32_t>(image.size());
    std::uint32_t remaining = length > kImageHeadSize ? length - kImageHeadSize : 0;
    std::uint32_t address = kFirmwareStart + kImageHeadSize;
    const unsigned pieces = piecesOf(remaining, kFlashPiece);
    unsigned done = 0;
    // Straight from the image, no copies: the rest of the image first, then its head.
    while (remaining != 0) {
      const std::uint32_t n = std::min(remaining, kFlashPiece);
      std::uint32_t target = address;
      const int result =
          tovr.writeFlash(image.subspan(length - remaining, n), target, run_->opcode, run_->data());
      if (!accepted(result, run_->opcode, TOVR::kFlashAccepted)) {
        fail(Failure::FirmwarePiece, {std::to_string(address)});
        break;
      }
      address += n;
      remaining -= n;
      stepProgress(UpdateStep::FirmwareProgramming, ++done, pieces);
    }
    // The magic goes in last, so that an image cut off anywhere is never taken for a whole
    // one.
    if (succeeding() && length != 0) {
      std::uint32_t target = kFirmwareStart;
      const int result = tovr.writeFlash(image.first(std::min(length, kImageHeadSize)), target,
                                         run_->opcode, run_->data());
      if (!accepted(result, run_->opcode, TOVR::kFlashAccepted)) {
        fail(Failure::FirmwareMagic, {std::to_string(kFirmwareStart)});
      }
    }
  }
  completeStep(UpdateStep::FirmwareProgramming);
}

void CmdProgram::programDefaultBlock() {
  const bool codeplug = (selection_ & kProgramCodeplug) != 0;
  // A run that is still succeeding here has a layout with a row (see enterFlashMode).
  const FlashLayoutRow& layout = run_->layout();
  journalStage("programming the default block");
  if (succeeding() && codeplug) {
    beginPhase(UpdatePhase::Codeplug);
    run_->stepText = "Begin to update default block.";
    const int result =
        radioInfo->engine().setProtectionMode(layout.defaultBlockMode, run_->opcode, run_->data());
    if (!accepted(result, run_->opcode, TOVR::kFlashAccepted)) {
      fail(Failure::DefaultBlockProtection, {std::to_string(layout.defaultBlockMode)});
    }
  }
  if (succeeding() && codeplug) {
    // The stream was parsed into the DEF block's buffer before anything was erased.
    run_->stepText = "Update default block.";
  }
  if (succeeding() && codeplug) {
    const CpgBlock& def = radioInfo->cpg().block(DEF);
    const unsigned units = piecesOf(def.size, kDefEraseUnit);
    for (unsigned i = 0; i < units; ++i) {
      const std::uint32_t unit = *layout.defAddress + i * kDefEraseUnit;
      std::uint32_t address = unit;
      const int result =
          radioInfo->engine().eraseFlash(kErase4K, address, run_->opcode, run_->data());
      if (!accepted(result, run_->opcode, TOVR::kFlashAccepted)) {
        fail(Failure::DefaultBlockErase, {std::to_string(unit)});
        break;
      }
    }
  }
  if (succeeding() && codeplug) {
    wait(kBeforeDefaultBlockMs);
    const CpgBlock& def = radioInfo->cpg().block(DEF);
    // The whole block, also the parts the stream left at zero.
    const std::span<const std::uint8_t> block =
        std::span(def.data).first(std::min<std::size_t>(def.size, def.data.size()));
    const auto size = static_cast<std::uint32_t>(block.size());
    const unsigned pieces = piecesOf(size, kFlashPiece);
    unsigned done = 0;
    for (std::uint32_t offset = 0; offset < size; offset += kFlashPiece) {
      const std::uint32_t n = std::min(size - offset, kFlashPiece);
      const std::uint32_t pieceAddress = *layout.defAddress + offset;
      std::uint32_t address = pieceAddress;
      const int result = radioInfo->engine().writeFlash(block.subspan(offset, n), address,
                                                        run_->opcode, run_->data());
      if (!accepted(result, run_->opcode, TOVR::kFlashAccepted)) {
        fail(Failure::DefaultBlockPiece, {std::to_string(pieceAddress)});
        break;
      }
      stepProgress(UpdateStep::DefaultBlock, ++done, pieces);
    }
  }
  if (succeeding()) {
    // Also without a codeplug: the new firmware starts from an empty dynamic block.
    std::uint32_t address = *layout.dynAddress;
    const int result =
        radioInfo->engine().eraseFlash(kErase64K, address, run_->opcode, run_->data());
    if (!accepted(result, run_->opcode, TOVR::kFlashAccepted)) {
      fail(Failure::DynErase);
    }
  }
  completeStep(UpdateStep::DefaultBlock);
}

void CmdProgram::finalize() {
  Run& run = *run_;
  run.stepText = "Finalize flashing data.";
  run.statusWord = 0;
  journalStage("resetting the radio");
  // Whatever the state of the run: the link goes back to its own rate if it left it.
  if (radioInfo == nullptr || radioInfo->engine().radioBaudSwitch(1, run.opcode, run.data()) < 0) {
    fail(Failure::FinalizeBaudSwitch, {kLinkBaudText});
  }
  const bool codeplug = (selection_ & kProgramCodeplug) != 0;
  const bool flashed = (selection_ & (kProgramFirmware | kProgramCodeplug)) != 0;
  if (succeeding() && flashed) {
    wait(kBeforeHardResetMs);
    // A short answer must not pass off an earlier answer's bytes as the status word.
    run.dataBuffer[0] = 0;
    run.dataBuffer[1] = 0;
    if (radioInfo->engine().resetDevice(kHardReset, run.opcode, run.data()) < 0) {
      fail(Failure::HardReset);
    } else {
      run.statusWord = static_cast<std::uint16_t>(run.dataBuffer[0] << 8 | run.dataBuffer[1]);
      if ((run.statusWord & kDefaultBlockBad) != 0) {
        fail(Failure::DefaultBlockCorrupted);
      }
      wait(kAfterHardResetMs);
    }
  }
  if (succeeding() && (codeplug || keepPersonality)) {
    const int result =
        radioInfo->engine().requestTestMode(kTovrTestMode, 0, 0, run.opcode, run.data());
    if (!accepted(result, run.opcode, TOVR::kAccepted)) {
      fail(Failure::TovrTestMode);
    }
  }
  if (succeeding() && codeplug) {
    TOVR& tovr = radioInfo->engine();
    const int reset = tovr.softpotWrite(kResetAllBlocks, 0, {}, run.opcode, run.data());
    if (!accepted(reset, run.opcode, TOVR::kAccepted)) {
      fail(Failure::ResetAllBlocks);
    } else if ((run.statusWord & kFactoryBlockKept) == 0) {
      const int restore = tovr.softpotWrite(kRestoreFactoryBlock, 0, {}, run.opcode, run.data());
      if (!accepted(restore, run.opcode, TOVR::kAccepted)) {
        fail(Failure::RestoreFactoryBlock);
      }
    }
    wait(kAfterBlockResetMs);
  }
}

void CmdProgram::restorePersonality() {
  if (succeeding() && keepPersonality) {
    beginPhase(UpdatePhase::Restore);
    journalStage("restoring the personality");
    run_->stepText = "Restore user-infor.";
    run_->personalityStep = UpdateStep::PersonalityRestore;
    run_->personality->restoreDynBlocks();
  }
  completeStep(UpdateStep::PersonalityRestore);
  if (succeeding() && keepPersonality) {
    run_->personalityStep = UpdateStep::ContactRestore;
    run_->personality->restoreContacts();
  }
  completeStep(UpdateStep::ContactRestore);
}

void CmdProgram::reprotect() {
  if (personalityChangedSince_) {
    // Nothing was erased: the radio goes back to the normal mode its owner used it in.
    reprotectRadio(radioInfo->engine(), run_->data(), run_->flashLayout,
                   [this](UpdateFailure failure, std::initializer_list<std::string> arguments) {
                     fail(failure, arguments);
                   });
    return;
  }
  if (!succeeding()) {
    return;
  }
  beginPhase(UpdatePhase::Finalize);
  journalStage("re-protecting the radio");
  reprotectRadio(radioInfo->engine(), run_->data(), run_->flashLayout,
                 [this](UpdateFailure failure, std::initializer_list<std::string> arguments) {
                   fail(failure, arguments);
                 });
}

void CmdProgram::end() {
  if (!resultFlag) {
    notifyStep(0);  // the jump to the end below is bookkeeping, not progress
  }
  progressBase = progressSpan + run_->startBase;
  sendProgress(progressBase);
  wait(kBeforeProgressResetMs);
  sendProgress(0);
  if (resultFlag && run_->journal) {
    // Everything the entry stood for is done. Otherwise it stays unfinished: the next run
    // completes the update from it.
    run_->journal->stage = "finished";
    run_->journal->finished = true;
    std::string reason;
    if (!UpdateJournal(journalFolder).write(*run_->journal, reason)) {
      appendError(ErrorCategory::UPDATE,
                  "Error:the update is done, but the journal still calls it unfinished: %s.",
                  reason.c_str());
      noteJournalProblem(reason);
      journalLeftUnfinished_ = true;
    }
  }
  notifyFinished();
  const std::string stepText = run_->stepText;
  run_.reset();
  selection_ = 0;
  steps_.clear();
  if (!resultFlag) {
    appendError(ErrorCategory::UPDATE, "%s", stepText.c_str());
  }
}

}  // namespace orvik
