#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "codeplug/cpg.h"
#include "commands/personality_file.h"
#include "commands/update_journal.h"
#include "errors/error_text.h"
#include "exec/command.h"
#include "link/tovr.h"
#include "package/flash_layout.h"
#include "package/kxk_file.h"

namespace orvik {

// A block of radio memory that an update keeps: its codeplug block index (0 is DYN, the only
// kind backed up through memory reads), its address and its size.
struct PersonalityBlock {
  std::int32_t blockType = 0;
  std::uint32_t address = 0;
  std::uint32_t size = 0;
};

// The failure lines of the update sequence (and of the personality restore that shares its
// phases). Where a line has a code, the value is the code the line ends with.
enum class UpdateFailure : std::uint16_t {
  NotConnected = 0x001,
  FlashTestMode = 0x002,
  UnknownFlashLayout = 0x003,
  FirstBaudSwitch = 0x006,
  AddressMap = 0x007,
  DynBlockPlace = 0x008,
  DynRead = 0x00a,
  ContactRead = 0x00b,
  FirmwareFile = 0x00d,
  FirmwareProtection = 0x00e,
  FirmwareErase = 0x00f,
  FirmwarePiece = 0x010,
  FirmwareMagic = 0x011,
  DefaultBlockProtection = 0x012,
  CodeplugFile = 0x013,
  DefaultBlockErase = 0x014,
  DefaultBlockPiece = 0x015,
  DynErase = 0x016,
  FinalizeBaudSwitch = 0x01a,
  HardReset = 0x01b,
  DefaultBlockCorrupted = 0x01c,
  TovrTestMode = 0x01d,
  ResetAllBlocks = 0x01e,
  RestoreFactoryBlock = 0x01f,
  DynWrite = 0x020,
  ContactWrite = 0x021,
  MasterResetContacts = 0x022,
  ReprotectFlashTestMode = 0x029,
  FinalProtection = 0x02a,
  LastBaudSwitch = 0x02b,
  SoftReset = 0x02c,
  // Lines without a code: the saved personality and the command that writes it back.
  BackupNotSaved = 0x1000,
  IdentityNotRead = 0x1001,
  BackupOfAnotherRadio = 0x1002,
  JournalNotWritten = 0x1003,
  StoppedByUser = 0x1004,
  PersonalityChangedSince = 0x1005,
};

struct UpdateFailureLine {
  UpdateFailure failure;
  ErrorCategory category;
  // Each %d or %s takes the next argument, already in text form.
  const char* format;
};

// The line of a failure with its arguments put in; numbers are given in decimal.
std::string updateFailureText(UpdateFailure failure, std::initializer_list<std::string> arguments);
ErrorCategory updateFailureCategory(UpdateFailure failure);
void appendUpdateFailure(UpdateFailure failure, std::initializer_list<std::string> arguments = {});

// The step numbers of the run that take part in progress weighting.
enum class UpdateStep : std::uint32_t {
  PersonalityBackup = 1,
  ContactBackup = 2,
  FirmwareErase = 4,
  FirmwareProgramming = 5,
  DefaultBlock = 6,
  PersonalityRestore = 9,
  ContactRestore = 10,
};

// The steps of an update as the user follows them; the command tells its window each one it
// begins (MSG_COMMAND_STEP). The radio's reset after programming ends the codeplug step.
enum class UpdatePhase : unsigned {
  Backup = 1,
  Erase = 2,
  Firmware = 3,
  Codeplug = 4,
  Restore = 5,
  Finalize = 6,
};
// "backup", "erase", ...; empty for a number that is no phase.
const char* updatePhaseName(unsigned phase);

using UpdateFailHook =
    std::function<void(UpdateFailure failure, std::initializer_list<std::string> arguments)>;

// The end of every write to a radio: back to FLASH test mode, the final protection mode of
// the radio's flash layout, the link's own rate and a soft reset, so that the radio starts
// protected with what was written. Without a layout known from earlier, the answer to the
// FLASH test mode request tells it. The first failure goes to fail and ends the sequence.
bool reprotectRadio(TOVR& tovr, std::span<std::uint8_t> data, std::optional<int> flashLayout,
                    const UpdateFailHook& fail);

// Whether the personality a radio holds now (now) can be what an interruption of the entry's
// update left of the one saved before it (saved), so that writing the saved one back takes
// nothing of the owner's: the same blocks and contacts; or, where the update had reached the
// DYN erase, the block reset or the restore, the firmware it programmed (now's version record),
// each DYN piece either the saved one or blank (one byte throughout) and no contact that is
// not a saved one, or contacts that could not be read back (a contact restore cut off half
// way). Anything else the owner may have changed since.
bool personalityExplainedByInterruption(const JournalEntry& entry, const PersonalityBackup& saved,
                                        const PersonalityBackup& now, bool contactsRead = true);

// The update of one connected radio: firmware image, default codeplug block, dynamic block
// reset, and the radio's personality kept across all of that. The caller configures it,
// then runs execute on the worker; the result is one flag.
class CmdProgram : public Command {
 public:
  static constexpr std::uint16_t kProgramFirmware = 0x0002;
  static constexpr std::uint16_t kProgramCodeplug = 0x0040;
  static constexpr std::size_t kDataBufferSize = 4109;

  CmdProgram();
  ~CmdProgram() override;

  bool execute() override;

  // Ctrl-C: asks the running update (or the next, when none runs) to stop at its next safe
  // point: before the first erase, or where the radio holds whole firmware; the run then fails
  // as a failed update does. Safe in a signal handler.
  void requestStop() { stopRequested_.store(true); }
  // True while the radio is being erased or programmed: stopping the program now would leave
  // the radio without firmware. Safe in a signal handler.
  bool flashing() const { return flashing_.load(); }

  bool setCodeplugFile(const std::filesystem::path& path);
  bool setFirmwareFile(const std::filesystem::path& path);
  bool setAddressMapFile(const std::filesystem::path& path);
  void requestFirmwareSteps();
  void requestCodeplugStep();
  // Steps 1 and 9; the caller sets keepPersonality itself.
  void requestPersonalitySteps();
  // Replaces the list of blocks to keep.
  bool setPersonalityBlocks(std::span<const PersonalityBlock> records);

  const std::filesystem::path& codeplugFile() const { return codeplugFile_; }
  const std::filesystem::path& firmwareFile() const { return firmwareFile_; }
  const std::filesystem::path& addressMapFile() const { return addressMapFile_; }
  std::uint16_t selection() const { return selection_; }
  const std::set<std::uint32_t>& steps() const { return steps_; }
  const std::vector<PersonalityBlock>& personalityBlocks() const { return personalityBlocks_; }
  float progressScale() const { return progressScale_; }
  // The personality backup file the last run wrote; empty when it wrote none.
  const std::filesystem::path& backupFile() const { return backupFile_; }
  // Why the last run could not save the personality backup; empty when nothing stopped it.
  const std::string& backupProblem() const { return backupProblem_; }
  // The journal folder, when the last run could not record itself there (so nothing was
  // erased); empty otherwise.
  const std::filesystem::path& journalNotWritten() const { return journalNotWritten_; }
  // The radio may hold less than before the last run: it began to erase, or it completed an
  // update that had. Only then is writing the personality back worth advising.
  bool radioChanged() const { return radioChanged_; }

  // Completes an interrupted update from its journal entry for the next run: the personality
  // is written back from the entry's backup, taken before that update's first erase, instead
  // of being read from the radio (which may hold reset blocks by now), and the entry is carried
  // on instead of a new one. The caller sets the files and steps as the entry says.
  void resumeInterrupted(JournalEntry entry, PersonalityBackup backup);
  // Before the completion writes the saved personality back, it reads the radio's: when that
  // is not what the interruption can have left (see personalityExplainedByInterruption), the
  // run stops before any erase, puts the radio back in normal mode and says so here, until
  // the next run. A person who has decided to write the saved one back anyway sets
  // overwriteDecided for the next run.
  bool personalityChangedSince() const { return personalityChangedSince_; }
  bool overwriteDecided = false;
  // Each journal write that failed in the last run, one line each naming the entry's file and
  // why, in the order they failed; empty when every write went well.
  const std::vector<std::string>& journalProblems() const { return journalProblems_; }
  // Whether the last run's final write, which marks the entry finished, failed.
  bool journalLeftUnfinished() const { return journalLeftUnfinished_; }
  // Whether the last run stopped before any erase because its entry could not be written.
  bool journalNotStarted() const { return journalNotStarted_; }

  // Back up the personality before and restore it after the update.
  bool keepPersonality = true;
  // Where the personality backup files go (normally <data-dir>/backup); the run refuses to
  // erase anything when it cannot save the backup there.
  std::filesystem::path backupFolder;
  // Where the update journal lies (normally <data-dir>/journal); empty: no journal.
  std::filesystem::path journalFolder;
  // The package's versions, for the journal's readers.
  std::string toolFirmwareVersion;
  std::string toolCodeplugVersion;
  // The SHA-256 of the package's SHA256SUMS, for the journal; empty without one.
  std::string packageSha256;
  // Told, on the thread that runs the command, each stage the run begins ("programming the
  // firmware"); the update station shows it.
  std::function<void(const char* stage)> stageObserver;

 private:
  struct Run;

  bool succeeding() const { return resultFlag; }
  void fail(UpdateFailure failure, std::initializer_list<std::string> arguments = {});
  unsigned stepWeight(UpdateStep step) const;
  // The progress of done units out of total within the step; sent at once.
  void stepProgress(UpdateStep step, unsigned done, unsigned total);
  void completeStep(UpdateStep step);
  void wait(unsigned milliseconds);
  void beginPhase(UpdatePhase phase);
  // Where the radio holds whole firmware, a stop the user asked for ends the run.
  void stopAtSafePoint();

  // The phases of a run, in order.
  void start();
  void enterFlashMode();
  void switchBaudRate();
  // Address map, firmware image and codeplug stream, each checked, before any erase.
  void loadPackage();
  bool personalityBlocksFit(const CpgBlock& dyn) const;
  void backupPersonality();
  void saveBackupFile();
  // The radio's personality now against the one saved before the interrupted update.
  void checkPersonalityAgainstEntry();
  void noteJournalProblem(const std::string& reason);
  // Records the update in the journal before the first erase; then the step it begins.
  void startJournal();
  void journalStage(const char* stage);
  void tellStage(const char* stage);
  void eraseFirmwareRegion();
  void programFirmware();
  void programDefaultBlock();
  void finalize();
  void restorePersonality();
  void reprotect();
  void end();

  std::filesystem::path codeplugFile_;
  std::filesystem::path firmwareFile_;
  std::filesystem::path addressMapFile_;
  std::uint16_t selection_ = 0;
  float progressScale_ = 1.0F;
  std::set<std::uint32_t> steps_;
  std::vector<PersonalityBlock> personalityBlocks_;
  std::filesystem::path backupFile_;
  // The interrupted update this run completes, with its saved personality.
  struct Resume {
    JournalEntry entry;
    PersonalityBackup backup;
  };
  std::optional<Resume> resume_;
  std::string backupProblem_;
  bool personalityChangedSince_ = false;
  std::vector<std::string> journalProblems_;
  bool journalLeftUnfinished_ = false;
  bool journalNotStarted_ = false;
  std::filesystem::path journalNotWritten_;
  bool radioChanged_ = false;
  // One container reader for every load; its buffer is reused between runs.
  KxkFile file_;
  std::unique_ptr<Run> run_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> flashing_{false};
};

}  // namespace orvik
