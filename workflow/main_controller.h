#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/cmd_keypad.h"
#include "commands/cmd_program.h"
#include "commands/cmd_restore_personality.h"
#include "commands/cmd_sn.h"
#include "config/config.h"
#include "exec/radio_manager.h"
#include "exec/task.h"
#include "package/signed_package.h"
#include "workflow/console_channel.h"
#include "workflow/main_view.h"
#include "workflow/versions.h"

namespace orvik {

// What one user action ended with: the message shown (or sent to the console), or a silent
// end after the user said No.
struct ActionOutcome {
  ActionOutcome() = default;
  ActionOutcome(std::string text, unsigned style, bool cancelled)
      : text(std::move(text)), style(style), cancelled(cancelled) {}

  std::string text;
  unsigned style = 0;
  bool cancelled = false;
  // The newest failure line behind a failed connect or update, as the error log has it;
  // empty when there is none.
  std::string cause;
  // A failed update left the radio's update unfinished: running it again completes it.
  bool unfinished = false;
  // A file the update must write before it erases anything (the personality backup, the
  // journal entry) could not be written into this folder: the disk is full, or the folder is
  // read-only or not the user's. Nothing on the radio was changed.
  std::filesystem::path unwritableFolder;
  bool succeeded() const { return !cancelled && style == kStyleInformation; }
};

// What an update run was about, for the update history.
struct UpdateRecord {
  std::string kind;  // "update" or "serial"
  std::chrono::system_clock::time_point started;
  std::string model;
  std::string serialBefore;
  std::string serialAfter;
  std::string firmwareBefore;
  std::string firmwareAfter;
  std::string codeplugBefore;
  std::string codeplugAfter;
  std::string keypadBefore;
  std::string keypadAfter;
  std::string toolFirmware;
  std::string toolCodeplug;
  // The SHA-256 of the package's SHA256SUMS; empty without one.
  std::string packageSha256;
  bool keepPersonality = false;
  std::string errorLines;
  std::filesystem::path backupFile;
  // The programming cable the run went through, where a front end tells it (the update
  // station does, by its USB serial number or its port); empty otherwise.
  std::string cable;
};

// The main window's logic: getting the radio's information, the update with its version
// rules, the keypad update, the dealer's serial number, the cable status and the console's
// test mode. It draws nothing itself; a MainView shows what it decides.
class MainController : public Event {
 public:
  enum Busy { kIdle = 0, kUpdating = 1, kWritingSerial = 2, kReadingInfo = 3 };

  MainController(RadioManager& manager, Task& task, Config& config, MainView& view);
  ~MainController() override;

  // Where the keypad boot-loader and its firmware lie (the tool's base folder) and where
  // personality backups go.
  void setBaseFolder(const std::filesystem::path& folder) { keypad_.baseFolder = folder; }
  void setBackupFolder(const std::filesystem::path& folder) { program_.backupFolder = folder; }
  // Where the update journal lies; without one, an interrupted update is not recorded.
  void setJournalFolder(const std::filesystem::path& folder) {
    journalFolder_ = folder;
    program_.journalFolder = folder;
  }
  void setConsoleChannel(ConsoleChannel* channel) { console_ = channel; }
  // The update package's check against the trusted keys; a refused package is used for
  // nothing beyond reading the radio's identity.
  void setPackageTrust(std::shared_ptr<const PackageTrust> trust) {
    packageTrust_ = std::move(trust);
  }
  // The clock of the time stamp; the local time by default.
  void setTimeSource(std::function<std::time_t()> now) { now_ = std::move(now); }
  // Told about every update run when it has ended (not when it was cancelled).
  void setUpdateObserver(std::function<void(const UpdateRecord&, const ActionOutcome&)> observer) {
    updateObserver_ = std::move(observer);
  }

  // The window's start-up: window, listener, dealer state, controls, panel. And its end.
  void initialize();
  void close();

  void onGetRadioInfo();
  void onUpdate();
  void onUpdateSerialNumber();
  void onDealerLogin();
  // Leaves dealer mode and forgets the remembered login, so that the next start asks again;
  // false when the setup file could not be written (dealer mode is left all the same).
  bool onDealerLogout();
  // Asks, then writes a personality backup file back to the connected radio it was taken
  // from; nothing while another action runs.
  void onRestorePersonality(const std::filesystem::path& backupFile);
  // The menu's Exit: allowed only while no action runs.
  bool requestExit() const { return busyOperation_ == kIdle; }
  // A message from a console; returns the answer.
  int onConsoleMessage(ConsoleMessage message, WParam wParam, LParam lParam);
  // The user leaves test mode from the window; nothing while an action runs.
  void onLeaveTestMode();
  // A console that kept its connection went away: when it was the one that last asked for
  // test mode and never left it, nobody would end the test mode, so it ends here.
  void onConsoleGone(WParam handle);
  void onCableCount(LParam count);
  // A device was removed from the system. The windows do not call it: closing the port under
  // a command that still runs on the worker would pull it from under the worker's reads; the
  // cable monitor's count shows the removal and the command's own I/O fails.
  void onDeviceRemoved();

  int checkSingleCable();
  void fillRadioPanel();
  void updateControls();
  bool runKeypadUpdate();

  int busyOperation() const { return busyOperation_; }
  bool cablePresent() const { return cablePresent_; }
  bool dealerMode() const { return dealerMode_; }
  int testMode() const { return testMode_; }
  bool infoValid() const { return infoValid_; }
  const RadioPanel& panel() const { return panel_; }
  const ActionOutcome& lastOutcome() const { return lastOutcome_; }
  // What the last update run that was not cancelled did, as the history records it.
  const std::optional<UpdateRecord>& lastUpdate() const { return lastUpdate_; }
  // The last update was cancelled by the downgrade question after its keypad update had run:
  // the radio was changed all the same.
  bool keypadUpdatedBeforeCancel() const { return keypadUpdatedBeforeCancel_; }
  std::string title() const;

  CmdProgram& programCommand() { return program_; }
  CmdRestorePersonality& restoreCommand() { return restore_; }
  CmdSN& serialCommand() { return serial_; }
  CmdKeypad& keypadCommand() { return keypad_; }

 protected:
  void onMessage(const Message& message) override;

 private:
  struct UpdateRun;
  struct InterruptedUpdate;

  // The steps of an update, in their order.
  void beginUpdate(UpdateRun& run);
  void identifyForUpdate(UpdateRun& run);
  void checkInterruptedUpdate(UpdateRun& run);
  void completeInterruptedUpdate(UpdateRun& run);
  void checkToolVersions(UpdateRun& run);
  void askGoAhead(UpdateRun& run);
  void checkRadioVersions(UpdateRun& run);
  void findPackageFiles(UpdateRun& run);
  void updateKeypadFirst(UpdateRun& run);
  void decideProgramming(UpdateRun& run);
  void programRadio(UpdateRun& run);
  void runProgramCommand(UpdateRun& run);
  void reportUpdate(UpdateRun& run);

  RadioInfo& radio() { return *manager_.radioInfo(); }
  // Connects, probes the cable and reads the identity; on failure sets the run's result.
  // True, with string 112 and what failed in the outcome and a line in the error log, when
  // the update package was refused against the trusted keys.
  bool packageRefused(ActionOutcome& outcome);
  bool connectAndIdentify(bool forUpdate, ActionOutcome& outcome);
  // The result of a connect or identity read that failed, with the reason below the message
  // and the error text in the error log.
  bool connectFailed(ActionOutcome& outcome);
  // Finds and opens the cable; on failure sets the result with the reason.
  bool connectCable(ActionOutcome& outcome);
  // The result of an identity read that failed on an open cable.
  bool identityNotRead(ActionOutcome& outcome);
  // Reads the identity; answers that are out of step with the requests, no answer or a model
  // the package does not name are read again once the line fell quiet, so that a radio still
  // answering an earlier request is neither silent nor unsupported.
  enum class Identity { Supported, NotSupported, Silent, OutOfStep };
  Identity readIdentityInStep();
  // The outcome of an identity that is not Supported; false.
  bool identityFailed(Identity identity, ActionOutcome& outcome);
  void closeIfOpen();
  // Enters or leaves test mode: the title and the view follow.
  void setTestMode(int testMode);
  // The running action (kIdle: none); the console hears when one starts and ends.
  void setBusy(Busy operation);
  // Runs one command on the worker behind the wait dialog, on the connected radio, with its
  // progress going to this window; true when it succeeded.
  bool runCommand(Command& command, const std::string& waitText = {});
  void finish(ActionOutcome outcome);
  bool reportToConsole(bool success);
  // The address-map files of the new and the old codeplug family as the configuration lists
  // them (one and the same: the even-minor version when there is one, else the odd one); the
  // log line of the one that is missing, or nothing.
  const char* addressMapFiles(std::string& newFile, std::string& oldFile);
  std::string modelNumberText();
  // The radio's unfinished update from the journal, with the personality saved before it, in
  // found. False, with the message in refusal, when the journal entry or that backup cannot be
  // used.
  bool findInterruptedUpdate(const std::string& serial, std::optional<InterruptedUpdate>& found,
                             ActionOutcome& refusal);
  // The identified radio's Unit Private ID, which names its journal entry when it has no
  // serial number; empty when it has none.
  std::string radioPrivateId();
  static std::string interruptedUpdateQuestion(const JournalEntry& entry);
  // The package files of the interrupted update in the package in use, found by name and
  // checked against the entry's digests; false, with the message in the run, when they are
  // not there.
  bool findCompletionFiles(UpdateRun& run, JournalEntry& entry);
  // The completion found a personality the owner may have changed since: only a person may
  // decide to write the saved one over it.
  bool ownerWantsSavedPersonality(UpdateRun& run);
  // The lines that tell the user of journal writes that failed in the last update command.
  void tellJournalProblems(UpdateRun& run);
  // What the run would do to the radio, for the question that asks for it.
  UpdateProposal proposalBase(const UpdateRun& run);
  UpdateProposal updateProposal(const UpdateRun& run);
  UpdateProposal interruptedProposal(const UpdateRun& run, const JournalEntry& entry);

  RadioManager& manager_;
  Task& task_;
  Config& config_;
  MainView& view_;
  ConsoleChannel* console_ = nullptr;
  std::shared_ptr<const PackageTrust> packageTrust_;
  std::function<std::time_t()> now_;
  std::function<void(const UpdateRecord&, const ActionOutcome&)> updateObserver_;

  CmdProgram program_;
  CmdSN serial_;
  CmdKeypad keypad_;
  CmdRestorePersonality restore_;

  std::filesystem::path journalFolder_;
  // The user has already agreed to complete the radio's interrupted update.
  bool interruptedUpdateConfirmed_ = false;
  int busyOperation_ = kIdle;
  bool cablePresent_ = false;
  bool cableTextConnected_ = false;
  bool cableTextSet_ = false;
  bool dealerMode_ = false;
  WParam consoleWindow_ = 0;
  int testMode_ = 0;
  // The console that last asked for test mode while it is on; 0 when none did.
  WParam testModeConsole_ = 0;
  bool infoValid_ = false;
  bool inCableCount_ = false;
  // Why the last keypad update failed, beyond the error text: the boot-loader's end and words.
  std::vector<std::string> keypadReport_;
  RadioPanel panel_;
  ActionOutcome lastOutcome_;
  std::optional<UpdateRecord> lastUpdate_;
  bool keypadUpdatedBeforeCancel_ = false;
};

}  // namespace orvik
