#include "workflow/main_controller.h"

#include <array>

#include "app/string_table.h"
#include "base/text.h"
#include "errors/error_log.h"
#include "errors/error_text.h"
#include "workflow/update_plan.h"

namespace orvik {
namespace {

constexpr unsigned kProgressRange = 100;
constexpr const char* kConsoleUnreachable = "Failed to connect to console.";
constexpr const char* kFailurePrefix = "Error:";
constexpr const char* kRadioSilent =
    "The radio did not answer. Check that it is switched on and attached to the cable.";
constexpr const char* kAnswersOutOfStep =
    "The radio's answers did not match the requests; it may still be busy with what an "
    "earlier run asked of it. Wait a few seconds, then try again.";
// Identity reads before the tool tells what it found.
constexpr int kIdentityReads = 3;
constexpr const char* kTestModeQuestion =
    "Update flash tool is entering test mode, \t\r\ndo you want to continue?";
constexpr const char* kTestModeTitle = " [Test mode]";
constexpr int kConsolePostAttempts = 11;
constexpr const char* kRestoreSucceeded = "The radio's personality was restored.";
constexpr const char* kRestoreFailed = "Failed to restore the radio's personality.";
constexpr const char* kRestoreQuestion =
    "Write the personality saved in\n%s\nto the radio? What the radio holds now is replaced.";
// Below the message that a file is missing or damaged: which, and where it was looked for.
constexpr const char* kFromThePackage = "The tool's versions are read from the update package %s.";
constexpr const char* kNoCodeplugFile =
    "The update package %s lists no codeplug file of version %s for the model %s.";
constexpr const char* kNoAddressMapFile =
    "The update package %s lists no address map file for this radio's codeplug.";
constexpr const char* kBackupNotSaved =
    "The radio's personality could not be saved in %s: %s. Nothing was erased. Make room on "
    "the disk, or make that folder writable, and run the update again.";
constexpr const char* kLoginNotSaved =
    "Dealer mode is on until the tool ends, but the login could not be remembered in %s; the "
    "next start asks for the password again.";
constexpr const char* kInterruptedOtherPackage =
    "The last update of this radio was interrupted, and it began with another update package "
    "(the SHA-256 of its SHA256SUMS was %s; this one's is %s). Complete it with that package "
    "(--package), so that the radio gets the files its backup was taken for.";
constexpr const char* kUpdateUnfinished =
    "The update of this radio is not finished (it stopped while %s). Update completes it.";
constexpr const char* kInterruptedQuestion =
    "The last update of this radio was interrupted (it started %s and stopped while %s).%s\n\n"
    "Complete the update now? The firmware and the codeplug are programmed again, then the "
    "radio's personality is written back.";
constexpr const char* kPersonalityKeptIn =
    " Its personality was saved before anything was erased, in %s.";
constexpr const char* kJournalDamaged =
    "The record of this radio's last update [%s] cannot be used: %s. Nothing was changed. If "
    "that update was interrupted, write the radio's personality back with Restore "
    "Personality from the backup folder first; then move %s out of the journal folder to "
    "update the radio.";
constexpr const char* kJournalOfAnotherRadio =
    "The journal entry [%s] at this radio's name belongs to another radio [%s]. Nothing was "
    "changed, and that entry was left as it is: it may be the other radio's only record of an "
    "unfinished update. Move it to a folder of its own, keeping it, to update this radio.";
constexpr const char* kJournalNotWritten =
    "The update could not be recorded in its journal entry: %s. Nothing was erased. Make room "
    "on the disk, or make the journal folder writable, and run the update again.";
constexpr const char* kJournalStageNotWritten =
    "The journal entry could not be kept up to date during the update: %s.";
constexpr const char* kJournalNotFinished =
    "The radio was updated, but its journal entry could not be marked finished: %s. Make room "
    "on the disk; then move %s out of the journal folder, or the next update of this radio "
    "offers to complete an update that is done.";
constexpr const char* kCompletionFilesMissing =
    "The radio's last update was interrupted, but the update package in use [%s] does not hold "
    "the files it programmed: %s. Nothing was changed. Complete it with the package that "
    "update used (firmware %s, codeplug %s; it was in %s): give its folder with --package, or "
    "install it in the tool's data folder.";
constexpr const char* kPersonalityChangedQuestion =
    "The last update of this radio was interrupted, but the radio's personality is no longer "
    "the one saved before it in %s: the radio has been used or changed since. Writing the "
    "saved one back would replace what its owner has changed.\n\n"
    "Write the saved personality back anyway and complete the update? Answer No to leave the "
    "radio as it is.";
constexpr const char* kPersonalityChangedKept =
    "The radio's personality has changed since its interrupted update, so that update was not "
    "completed and nothing was written: the radio needs a person's decision. Run the update of "
    "this radio on its own and answer the question (the saved personality is in %s); or, to "
    "keep what the radio holds, move %s out of the journal folder and update it again.";
constexpr const char* kInterruptedBackupUnusable =
    "The radio's last update was interrupted, but the personality saved before it [%s] cannot "
    "be used: %s. Nothing was changed. To update the radio with the personality it holds now, "
    "remove %s.";

std::string str(StringId id) {
  return stringText(id);
}

std::string orNotAvailable(const std::optional<std::string>& text) {
  return text && !text->empty() ? *text : str(StringId::NotAvailable);
}

// The error text holds the lines of what runs from here on. Lines that steps which went well
// leave behind (a cable probe that finds no echo always leaves one) and those of earlier
// actions would otherwise decide the failure message and fill the failure report.
void startErrorText() {
  removeErrors(ErrorCategory::OK);
}

// The newest line of the error text that reports a failure ("Error:..."), else the newest
// line; empty when the text is empty.
std::string newestFailureLine() {
  const std::vector<ErrorEntry> entries = errorEntries();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->text.starts_with(kFailurePrefix)) {
      return it->text;
    }
  }
  return entries.empty() ? std::string() : entries.back().text;
}

// A failure line as a sentence for the user: without the prefix, beginning in upper case.
std::string reasonSentence(std::string line) {
  if (line.starts_with(kFailurePrefix)) {
    line.erase(0, std::string_view(kFailurePrefix).size());
  }
  if (!line.empty() && line.front() >= 'a' && line.front() <= 'z') {
    line.front() = static_cast<char>(line.front() - 'a' + 'A');
  }
  return line;
}

bool fileCategory(ErrorCategory category) {
  switch (category) {
    case ErrorCategory::FILE:
    case ErrorCategory::CPG:
    case ErrorCategory::FLASH:
    case ErrorCategory::INI:
    case ErrorCategory::KXK:
      return true;
    default:
      return false;
  }
}

}  // namespace

struct MainController::InterruptedUpdate {
  JournalEntry entry;
  PersonalityBackup backup;
};

// What one update run holds from step to step.
struct MainController::UpdateRun {
  bool ok = true;
  // The radio's identity was read at the start.
  bool identified = false;
  bool cancelled = false;
  bool keep = false;
  bool keypadUpdated = false;
  bool commandRan = false;
  ActionOutcome outcome;
  UpdateRecord record;
  ToolVersions tool;
  RadioVersions radio;  // as identified at the start
  UpdatePlan plan;
  std::string codeplugFileNew;
  std::string codeplugFileOld;
  std::string addressFileNew;
  std::string addressFileOld;
  // The radio's last update was interrupted: this run completes it from its journal entry.
  std::optional<InterruptedUpdate> interrupted;

  bool goesOn() const { return ok && !cancelled; }
  // A question answered No: the run ends without a message.
  void cancel() { cancelled = true; }
  // Fails the run with a message; a log line goes to the error log as well.
  void fail(std::string text, unsigned style, const char* logText = nullptr) {
    ok = false;
    outcome.text = std::move(text);
    outcome.style = style;
    if (logText != nullptr) {
      errorLog().logText(logText);
    }
  }
  // Fails the run on a file of the package or a version it cannot use: below the common
  // message, what is missing or damaged and where it was looked for.
  void failOnFile(const char* logText, const std::string& detail) {
    fail(str(StringId::FileMissing) + "\n\n" + detail, kStyleError, logText);
  }
};

MainController::MainController(RadioManager& manager, Task& task, Config& config, MainView& view)
    : manager_(manager), task_(task), config_(config), view_(view), now_([] {
        return std::time(nullptr);
      }) {
  serial_.resultFlag = true;
  keypad_.resultFlag = true;
}

MainController::~MainController() {
  close();
}

std::string MainController::title() const {
  std::string text = str(StringId::ProductName) + " " + str(StringId::UpdateTool);
  if (testMode_ != 0) {
    text += kTestModeTitle;
  }
  return text;
}

void MainController::initialize() {
  create();
  view_.setTitle(title());
  std::string password;
  std::string saved;
  dealerMode_ = config_.GetDealerPasswords(password, saved) && password == saved;
  view_.enableDealerLogin(!dealerMode_);
  view_.layoutForDealerMode(dealerMode_);
  manager_.addListener(window());
  manager_.enableMonitor(true);
  updateControls();
  fillRadioPanel();
  view_.setKeepPersonality(true);
  view_.setStatusText(str(StringId::HelpPrompt));
}

void MainController::close() {
  if (created()) {
    manager_.removeListener(window());
    manager_.enableMonitor(false);
  }
}

void MainController::onMessage(const Message& message) {
  switch (message.message) {
    case MSG_PROGRESS:
      view_.setProgress(static_cast<unsigned>(message.wParam));
      break;
    case MSG_COMMAND_STEP:
      view_.setProgressStep(updatePhaseName(static_cast<unsigned>(message.wParam)));
      break;
    case MSG_CABLE_COUNT:
      onCableCount(message.lParam);
      break;
    default:
      break;  // started and finished need nothing
  }
}

std::string MainController::modelNumberText() {
  return RadioInfo::modelText(radio().modelNumber).value_or(std::string());
}

void MainController::closeIfOpen() {
  radio().closeCable();
}

bool MainController::connectAndIdentify(bool forUpdate, ActionOutcome& outcome) {
  const auto failWith = [&](StringId id, unsigned style) {
    outcome.text = str(id);
    outcome.style = style;
    return false;
  };
  if (!connectCable(outcome)) {
    return false;
  }
  USBSerial& port = radio().port();
  int mode = TOVR::kProbeUndecided;
  if (port.isOpen()) {
    port.setBaudRate(TOVR::kProbeBaudRate);
    mode = radio().engine().probeCableMode();
    if (mode == TOVR::kProbeUndecided) {
      // Bytes that were neither silence nor the echo may be a radio's late answer to an
      // earlier request: once the line is quiet the probe tells.
      radio().waitForQuietLine(RadioInfo::kBusyRadioQuiet);
      removeErrors(ErrorCategory::PROT);
      mode = radio().engine().probeCableMode();
    }
    port.setBaudRate(TOVR::kLinkBaudRate);
  }
  if (mode == TOVR::kProbeEcho) {
    return failWith(
        forUpdate ? StringId::ToggleCableForUpdate : StringId::ToggleCableForInformation,
        kStyleWarning);
  }
  if (mode == TOVR::kProbeUndecided) {
    return failWith(StringId::CableUnsupported, kStyleError);
  }
  const Identity identity = readIdentityInStep();
  return identity == Identity::Supported || identityFailed(identity, outcome);
}

MainController::Identity MainController::readIdentityInStep() {
  std::optional<std::array<std::uint8_t, RadioInfo::kModelSize>> previousModel;
  bool previousSilent = false;
  for (int read = 1;; ++read) {
    const bool inStep = radio().readIdentity();
    const bool outOfStep = radio().answersOutOfStep();
    if (inStep && config_.HasModel(modelNumberText())) {
      return Identity::Supported;
    }
    // The same model twice over a quiet line is what the radio is.
    if (inStep && previousModel == radio().modelNumber) {
      return Identity::NotSupported;
    }
    const bool silent = !inStep && !outOfStep;
    if (silent && previousSilent) {
      return Identity::Silent;
    }
    if (read == kIdentityReads) {
      return silent ? Identity::Silent : Identity::OutOfStep;
    }
    previousModel.reset();
    if (inStep) {
      previousModel = radio().modelNumber;
    }
    previousSilent = silent;
    // The lines of the read that is made good by the next one do not stay.
    removeErrors(ErrorCategory::PROT);
    radio().waitForQuietLine(RadioInfo::kBusyRadioQuiet);
  }
}

bool MainController::identityFailed(Identity identity, ActionOutcome& outcome) {
  switch (identity) {
    case Identity::Supported:
      return true;
    case Identity::NotSupported:
      outcome.text = str(StringId::RadioNotSupported);
      outcome.style = kStyleError;
      return false;
    case Identity::Silent:
      return identityNotRead(outcome);
    case Identity::OutOfStep:
      connectFailed(outcome);
      outcome.text = str(StringId::ConnectFailed) + "\n" + kAnswersOutOfStep;
      return false;
  }
  return false;
}

bool MainController::packageRefused(ActionOutcome& outcome) {
  if (!packageTrust_ || !packageTrust_->refused()) {
    return false;
  }
  outcome.text = str(StringId::FileMissing) + "\n\n" + packageTrust_->refusalText();
  outcome.style = kStyleError;
  // The line a package container's failure would leave (category KXK), in the log.
  outcome.cause =
      formatText("Error:the update package [%s] is refused: %s.",
                 packageTrust_->folder.string().c_str(), packageTrust_->failure.c_str());
  errorLog().logText(outcome.cause);
  return true;
}

bool MainController::connectCable(ActionOutcome& outcome) {
  if (manager_.connect(true)) {
    return true;
  }
  if (errorEntries().empty()) {
    // No cable was found, so nothing was opened and nothing has said why yet.
    const std::string hint = radio().port().driver().noCableHint();
    if (!hint.empty()) {
      appendError(ErrorCategory::PROT, "%s", hint.c_str());
    }
  }
  return connectFailed(outcome);
}

bool MainController::identityNotRead(ActionOutcome& outcome) {
  connectFailed(outcome);
  // The cable is there; the line of the read that failed would tell the user little.
  outcome.text = str(StringId::ConnectFailed) + "\n" + kRadioSilent;
  return false;
}

bool MainController::connectFailed(ActionOutcome& outcome) {
  outcome.text = str(StringId::ConnectFailed);
  outcome.style = kStyleError;
  outcome.cause = newestFailureLine();
  if (!outcome.cause.empty()) {
    outcome.text += "\n" + reasonSentence(outcome.cause);
    std::string errors = joinedErrorText();
    errors.pop_back();  // each line ends in a newline; the log adds the last one itself
    errorLog().logLine("Connect radio failed, this's caused by:\n%s", errors.c_str());
  }
  return false;
}

void MainController::finish(ActionOutcome outcome) {
  lastOutcome_ = std::move(outcome);
}

void MainController::onGetRadioInfo() {
  view_.setBusyCursor(true);
  ActionOutcome outcome{str(StringId::RadioInformationRead), kStyleInformation, false};
  setBusy(kReadingInfo);
  startErrorText();
  view_.enableControl(Control::GetRadioInfo, false);
  checkSingleCable();
  const bool identified = connectAndIdentify(false, outcome);
  std::optional<InterruptedUpdate> interrupted;
  // The radio is shown, but a refused package is offered to it for nothing.
  if (identified && !packageRefused(outcome)) {
    findInterruptedUpdate(readRadioVersions(radio()).serial, interrupted, outcome);
  }
  closeIfOpen();
  if (identified) {
    infoValid_ = true;
    fillRadioPanel();
  }
  // A radio whose last update was interrupted is offered its completion at once.
  bool complete = false;
  if (interrupted && testMode_ == 0) {
    complete =
        view_.showMessage(outcome.text + "\n\n" + interruptedUpdateQuestion(interrupted->entry),
                          kStyleQuestion) == kAnswerYes;
  } else {
    if (interrupted) {
      outcome.text += "\n" + formatText(kUpdateUnfinished, interrupted->entry.stage.c_str());
    }
    view_.showMessage(outcome.text, outcome.style);
  }
  finish(outcome);
  updateControls();
  setBusy(kIdle);
  view_.setBusyCursor(false);
  if (complete) {
    interruptedUpdateConfirmed_ = true;
    onUpdate();
    interruptedUpdateConfirmed_ = false;
  }
}

// An update is a row of named steps over one run; each step runs while the run goes on (no
// failure, no question answered No), and the report ends every run that was not cancelled.
void MainController::onUpdate() {
  UpdateRun run;
  beginUpdate(run);
  using Step = void (MainController::*)(UpdateRun&);
  const auto runSteps = [&](std::initializer_list<Step> steps) {
    for (const Step step : steps) {
      if (!run.goesOn()) {
        break;
      }
      (this->*step)(run);
    }
  };
  runSteps({&MainController::identifyForUpdate, &MainController::checkInterruptedUpdate});
  if (run.interrupted) {
    // An interrupted update is completed as its journal says, whatever the radio reports now.
    runSteps({&MainController::completeInterruptedUpdate});
  } else {
    runSteps({&MainController::checkToolVersions, &MainController::askGoAhead,
              &MainController::checkRadioVersions, &MainController::findPackageFiles,
              &MainController::updateKeypadFirst, &MainController::decideProgramming,
              &MainController::programRadio});
  }
  reportUpdate(run);
}

void MainController::beginUpdate(UpdateRun& run) {
  view_.setBusyCursor(true);
  setBusy(kUpdating);
  startErrorText();
  view_.enableControl(Control::Update, false);
  view_.enableControl(Control::KeepPersonality, false);
  checkSingleCable();
  run.outcome = {str(StringId::UpdateSucceeded), kStyleInformation, false};
  run.record.kind = "update";
  run.record.started = std::chrono::system_clock::now();
  run.keep = view_.keepPersonality();
  run.record.keepPersonality = run.keep;
  if (packageTrust_) {
    run.record.packageSha256 = packageTrust_->manifestSha256;
  }
}

// The radio, and from its versions and the package's the plan of the whole update.
void MainController::identifyForUpdate(UpdateRun& run) {
  run.ok = connectAndIdentify(true, run.outcome) && !packageRefused(run.outcome);
  run.identified = radio().identityValid;
  run.tool = readToolVersions(config_, modelNumberText());
  run.radio = readRadioVersions(radio());
  run.plan = planUpdate(run.tool, run.radio);
  run.record.toolFirmware = run.tool.firmware;
  if (run.ok) {
    run.record.toolCodeplug = run.plan.codeplugShown;
  }
}

bool MainController::findInterruptedUpdate(const std::string& serial,
                                           std::optional<InterruptedUpdate>& found,
                                           ActionOutcome& refusal) {
  found.reset();
  if (journalFolder_.empty()) {
    return true;
  }
  const UpdateJournal journal(journalFolder_);
  JournalEntry entry;
  std::string reason;
  const auto refuse = [&](std::string text) {
    errorLog().logText(text.c_str());
    refusal = {std::move(text), kStyleError, false};
    return false;
  };
  const std::string privateId = radioPrivateId();
  const std::string entryPath = journal.entryPath(serial, privateId).value_or("").string();
  switch (journal.read(serial, entry, reason, privateId)) {
    case UpdateJournal::Found::None:
      return true;
    case UpdateJournal::Found::Damaged:
      return refuse(
          formatText(kJournalDamaged, entryPath.c_str(), reason.c_str(), entryPath.c_str()));
    case UpdateJournal::Found::OtherRadio:
      return refuse(
          formatText(kJournalOfAnotherRadio, entryPath.c_str(), printableText(reason).c_str()));
    case UpdateJournal::Found::Entry:
      break;
  }
  if (entry.finished) {
    return true;
  }
  InterruptedUpdate interrupted;
  if (entry.keepPersonality) {
    std::optional<PersonalityBackup> backup = readPersonalityFile(entry.backupFile);
    removeErrors(ErrorCategory::FILE);  // the refusal below says it in the user's words
    const std::string model = modelNumberText();
    if (!backup || backup->serial != serial || backup->model != model) {
      return refuse(formatText(kInterruptedBackupUnusable, entry.backupFile.string().c_str(),
                               backup ? "it was taken from another radio" : "it cannot be read",
                               entryPath.c_str()));
    }
    interrupted.backup = std::move(*backup);
  }
  interrupted.entry = std::move(entry);
  found = std::move(interrupted);
  return true;
}

std::string MainController::radioPrivateId() {
  return RadioInfo::privateIdText(radio().privateId).value_or("");
}

std::string MainController::interruptedUpdateQuestion(const JournalEntry& entry) {
  const std::string kept = entry.keepPersonality
                               ? formatText(kPersonalityKeptIn, entry.backupFile.string().c_str())
                               : std::string();
  return formatText(kInterruptedQuestion, entry.started.c_str(), entry.stage.c_str(), kept.c_str());
}

// A radio whose last update was interrupted gets that update completed first; a normal update
// would take a new backup of blocks that may be reset by now.
void MainController::checkInterruptedUpdate(UpdateRun& run) {
  std::optional<InterruptedUpdate> interrupted;
  if (!findInterruptedUpdate(run.radio.serial, interrupted, run.outcome)) {
    run.ok = false;
    return;
  }
  if (!interrupted) {
    return;
  }
  // Completing from another package would program other files than the backup was taken for.
  const std::string& began = interrupted->entry.packageSha256;
  if (!began.empty() && began != run.record.packageSha256) {
    run.failOnFile(
        nullptr,
        formatText(kInterruptedOtherPackage, began.c_str(),
                   run.record.packageSha256.empty() ? "none" : run.record.packageSha256.c_str()));
    errorLog().logLine(
        "Error:the interrupted update of [%s] began with the package whose "
        "SHA256SUMS has SHA-256 [%s], not this one.",
        run.radio.serial.c_str(), began.c_str());
    return;
  }
  // Nobody is asked to complete what the package in use cannot complete.
  if (!findCompletionFiles(run, interrupted->entry)) {
    return;
  }
  if (!interruptedUpdateConfirmed_ && testMode_ == 0 &&
      view_.confirmUpdate(interruptedUpdateQuestion(interrupted->entry),
                          interruptedProposal(run, interrupted->entry)) != kAnswerYes) {
    run.cancel();
    setBusy(kIdle);
    return;
  }
  run.interrupted = std::move(interrupted);
}

void MainController::completeInterruptedUpdate(UpdateRun& run) {
  JournalEntry& entry = run.interrupted->entry;
  run.record.serialBefore = run.radio.serial;
  run.record.firmwareBefore = run.radio.firmware;
  run.record.codeplugBefore = run.radio.codeplug;
  run.record.keypadBefore = run.radio.keypad;
  run.record.toolFirmware = entry.toolFirmware;
  run.record.toolCodeplug = entry.toolCodeplug;
  run.keep = entry.keepPersonality;
  run.record.keepPersonality = run.keep;
  if (entry.programFirmware) {
    program_.setFirmwareFile(entry.firmwareFile);
    program_.requestFirmwareSteps();
  }
  program_.setAddressMapFile(entry.addressMapFile);
  if (entry.programCodeplug) {
    program_.setCodeplugFile(entry.codeplugFile);
    program_.requestCodeplugStep();
  }
  program_.keepPersonality = entry.keepPersonality;
  if (entry.keepPersonality) {
    program_.requestPersonalitySteps();
  }
  program_.resumeInterrupted(entry, run.interrupted->backup);
  runProgramCommand(run);
  if (program_.personalityChangedSince() && ownerWantsSavedPersonality(run)) {
    // The same completion again, writing the saved personality over the radio's.
    run.ok = true;
    run.outcome = {str(StringId::UpdateSucceeded), kStyleInformation, false};
    if (entry.programFirmware) {
      program_.requestFirmwareSteps();
    }
    if (entry.programCodeplug) {
      program_.requestCodeplugStep();
    }
    program_.requestPersonalitySteps();
    program_.resumeInterrupted(entry, std::move(run.interrupted->backup));
    program_.overwriteDecided = true;
    runProgramCommand(run);
  }
}

bool MainController::ownerWantsSavedPersonality(UpdateRun& run) {
  const JournalEntry& entry = run.interrupted->entry;
  const std::string entryPath =
      UpdateJournal(journalFolder_).entryPath(entry.serial, entry.privateId).value_or("").string();
  removeErrors(ErrorCategory::OK);
  run.ok = false;
  run.outcome = {
      formatText(kPersonalityChangedKept, entry.backupFile.string().c_str(), entryPath.c_str()),
      kStyleWarning, false};
  errorLog().logText(run.outcome.text.c_str());
  if (testMode_ != 0) {
    return false;  // a console cannot decide it
  }
  return view_.askPerson(formatText(kPersonalityChangedQuestion,
                                    entry.backupFile.string().c_str())) == kAnswerYes;
}

namespace {

// The name a package file had, in the package in use: the first of the candidates that
// exists (and, when the entry has a digest, has that digest).
std::optional<std::filesystem::path> findPackageFile(
    const std::filesystem::path& recorded, const std::string& digest,
    const std::vector<std::filesystem::path>& inPackage) {
  std::vector<std::filesystem::path> candidates = {recorded};
  // The same name first, then any other file of its kind.
  for (const auto& path : inPackage) {
    if (path.filename() == recorded.filename()) {
      candidates.push_back(path);
    }
  }
  if (!digest.empty()) {
    candidates.insert(candidates.end(), inPackage.begin(), inPackage.end());
  }
  for (const auto& path : candidates) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
      continue;
    }
    if (digest.empty() || fileDigest(path) == digest) {
      return path;
    }
  }
  return std::nullopt;
}

}  // namespace

bool MainController::findCompletionFiles(UpdateRun& run, JournalEntry& entry) {
  // Where the package was when the update began, for the message.
  const std::filesystem::path recordedFolder = entry.addressMapFile.parent_path();
  std::vector<std::filesystem::path> firmware;
  if (!config_.firmwareFile.empty()) {
    firmware.emplace_back(config_.firmwareFile);
  }
  std::vector<std::filesystem::path> addressMaps;
  for (const auto& [version, path] : config_.addressFiles) {
    addressMaps.emplace_back(path);
  }
  std::vector<std::filesystem::path> codeplugs;
  if (const auto model = config_.models.find(modelNumberText()); model != config_.models.end()) {
    for (const auto& [block, versions] : model->second.blocks) {
      for (const auto& [version, path] : versions) {
        codeplugs.emplace_back(path);
      }
    }
  }
  std::string missing;
  const auto find = [&](bool used, std::filesystem::path& file, const std::string& digest,
                        const std::vector<std::filesystem::path>& inPackage, const char* kind) {
    if (!used) {
      return;
    }
    const std::optional<std::filesystem::path> found = findPackageFile(file, digest, inPackage);
    if (found) {
      file = *found;
      return;
    }
    missing += (missing.empty() ? "" : ", ") + std::string(kind) + " " +
               printableText(file.filename().string());
  };
  find(entry.programFirmware, entry.firmwareFile, entry.firmwareDigest, firmware,
       "the firmware file");
  find(entry.programCodeplug, entry.codeplugFile, entry.codeplugDigest, codeplugs,
       "the codeplug file");
  find(true, entry.addressMapFile, entry.addressMapDigest, addressMaps, "the address map file");
  if (missing.empty()) {
    return true;
  }
  run.fail(formatText(kCompletionFilesMissing, config_.configPath.c_str(), missing.c_str(),
                      entry.toolFirmware.c_str(), entry.toolCodeplug.c_str(),
                      printableText(recordedFolder.string()).c_str()),
           kStyleError);
  errorLog().logText(run.outcome.text.c_str());
  return false;
}

void MainController::checkToolVersions(UpdateRun& run) {
  std::string problems;
  for (const char* problem : run.plan.toolProblems) {
    problems += problem;
    problems += ' ';
  }
  for (const char* problem : run.plan.toolProblems) {
    run.failOnFile(problem, problems + formatText(kFromThePackage, config_.configPath.c_str()));
  }
}

void MainController::askGoAhead(UpdateRun& run) {
  if (testMode_ != 0) {
    return;
  }
  const std::string question =
      formatText(str(StringId::UpdateQuestion).c_str(), run.tool.firmware.c_str(),
                 run.plan.codeplugShown.c_str(), run.tool.keypad.c_str());
  view_.showVersionChanges({{"Firmware Version", run.radio.firmware, run.tool.firmware},
                            {"Codeplug Version", run.radio.codeplug, run.plan.codeplugShown},
                            {"Keypad Version", run.radio.keypad, run.tool.keypad}});
  if (view_.confirmUpdate(question, updateProposal(run)) != kAnswerYes) {
    run.cancel();
    setBusy(kIdle);
  }
}

UpdateProposal MainController::proposalBase(const UpdateRun& run) {
  UpdateProposal proposal;
  proposal.serial = run.radio.serial;
  proposal.model = modelNumberText();
  proposal.firmwareBefore = run.radio.firmware;
  proposal.codeplugBefore = run.radio.codeplug;
  proposal.keypadBefore = run.radio.keypad;
  proposal.firmwareAfter = run.radio.firmware;
  proposal.codeplugAfter = run.radio.codeplug;
  proposal.keypadAfter = run.radio.keypad;
  return proposal;
}

UpdateProposal MainController::updateProposal(const UpdateRun& run) {
  UpdateProposal proposal = proposalBase(run);
  const UpdatePlan& plan = run.plan;
  proposal.programming = plan.programming;
  proposal.keypad = plan.updateKeypad;
  proposal.downgrade = plan.askDowngrade;
  if (plan.programming == UpdatePlan::Programming::FirmwareAndCodeplug) {
    proposal.firmwareAfter = run.tool.firmware;
  }
  if (plan.programming != UpdatePlan::Programming::Nothing) {
    proposal.codeplugAfter =
        upperCase(plan.newCodeplugFamily ? plan.codeplugNew : plan.codeplugOld);
  }
  if (plan.updateKeypad) {
    proposal.keypadAfter = run.tool.keypad;
  }
  return proposal;
}

UpdateProposal MainController::interruptedProposal(const UpdateRun& run,
                                                   const JournalEntry& entry) {
  UpdateProposal proposal = proposalBase(run);
  proposal.completesInterrupted = true;
  if (entry.programFirmware) {
    proposal.programming = UpdatePlan::Programming::FirmwareAndCodeplug;
    proposal.firmwareAfter = entry.toolFirmware;
  } else if (entry.programCodeplug) {
    proposal.programming = UpdatePlan::Programming::Codeplug;
  }
  if (entry.programCodeplug) {
    proposal.codeplugAfter = entry.toolCodeplug;
  }
  return proposal;
}

void MainController::checkRadioVersions(UpdateRun& run) {
  if (!config_.HasModel(modelNumberText())) {
    run.fail(str(StringId::RadioNotSupported), kStyleError);
    return;
  }
  run.record.serialBefore = run.radio.serial;
  run.record.firmwareBefore = run.radio.firmware;
  run.record.codeplugBefore = run.radio.codeplug;
  run.record.keypadBefore = run.radio.keypad;
  if (run.plan.radioProblem != nullptr) {
    run.failOnFile(run.plan.radioProblem, run.plan.radioProblem);
  }
}

// The package files of both codeplug families.
void MainController::findPackageFiles(UpdateRun& run) {
  const std::string model = modelNumberText();
  if (!config_.GetBlockFile(model, kDefaultCodeplugBlock, run.plan.codeplugNew,
                            run.codeplugFileNew)) {
    run.failOnFile("New CP file is lost.", formatText(kNoCodeplugFile, config_.configPath.c_str(),
                                                      run.plan.codeplugNew.c_str(), model.c_str()));
  }
  if (!config_.GetBlockFile(model, kDefaultCodeplugBlock, run.plan.codeplugOld,
                            run.codeplugFileOld)) {
    run.failOnFile("Old CP file is lost.", formatText(kNoCodeplugFile, config_.configPath.c_str(),
                                                      run.plan.codeplugOld.c_str(), model.c_str()));
  }
  if (!run.ok) {
    return;
  }
  if (const char* lost = addressMapFiles(run.addressFileNew, run.addressFileOld)) {
    run.failOnFile(lost, formatText(kNoAddressMapFile, config_.configPath.c_str()));
  }
}

// The keypad, when its version differs, before anything else is written to the radio.
void MainController::updateKeypadFirst(UpdateRun& run) {
  if (!run.plan.updateKeypad) {
    return;
  }
  run.keypadUpdated = true;
  run.ok = runKeypadUpdate();
  if (run.ok) {
    run.outcome = {str(StringId::UpdateSucceeded), kStyleInformation, false};
    return;
  }
  // The report says why; the message adds what the boot-loader itself said, which is often all
  // the user needs (a boot-loader that is not installed, a cable it cannot open).
  std::string causes = errorEntries().empty() ? std::string() : joinedErrorText();
  for (const std::string& line : keypadReport_) {
    causes += line + "\n";
  }
  run.record.errorLines = causes;
  errorLog().logLine(
      "Update keypad firmware failed (Model:%s,SN:%s,Keypad:%s), this's caused by:\n%s",
      modelNumberText().c_str(), run.radio.serial.c_str(), run.radio.keypad.c_str(),
      causes.c_str());
  removeErrors(ErrorCategory::OK);
  std::string text = str(StringId::KeypadUpdateFailed);
  for (const std::string& line : keypad_.scriptOutput()) {
    text += "\n" + line;
  }
  run.outcome = {text, kStyleError, false};
}

void MainController::decideProgramming(UpdateRun& run) {
  const UpdatePlan& plan = run.plan;
  if (plan.decisionProblem != nullptr) {
    run.failOnFile(plan.decisionProblem,
                   std::string(plan.decisionProblem) + " " +
                       formatText(kFromThePackage, config_.configPath.c_str()));
    return;
  }
  if (plan.programming == UpdatePlan::Programming::Nothing) {
    run.ok = false;
    if (!run.keypadUpdated && plan.nothingToProgram) {
      const unsigned style =
          *plan.nothingToProgram == StringId::RadioUpToDate ? kStyleInformation : kStyleWarning;
      run.outcome = {str(*plan.nothingToProgram), style, false};
    }
    return;
  }
  if (!plan.askDowngrade || testMode_ != 0) {
    return;
  }
  // What would be programmed, older than what the radio has.
  std::vector<VersionChange> changes;
  if (plan.programming == UpdatePlan::Programming::FirmwareAndCodeplug) {
    changes.push_back({"Firmware Version", run.radio.firmware, run.tool.firmware});
  }
  changes.push_back({"Codeplug Version", run.radio.codeplug,
                     plan.newCodeplugFamily ? plan.codeplugNew : plan.codeplugOld});
  view_.showVersionChanges(changes);
  if (view_.showMessage(str(StringId::DowngradeQuestion), kStyleQuestion) != kAnswerYes) {
    run.cancel();
    setBusy(kIdle);
  }
}

void MainController::programRadio(UpdateRun& run) {
  const UpdatePlan& plan = run.plan;
  if (plan.programming == UpdatePlan::Programming::FirmwareAndCodeplug) {
    program_.setFirmwareFile(config_.firmwareFile);
    program_.requestFirmwareSteps();
  }
  program_.setAddressMapFile(plan.newCodeplugFamily ? run.addressFileNew : run.addressFileOld);
  program_.setCodeplugFile(plan.newCodeplugFamily ? run.codeplugFileNew : run.codeplugFileOld);
  program_.requestCodeplugStep();
  program_.keepPersonality = run.keep;
  if (run.keep) {
    program_.requestPersonalitySteps();
    std::vector<PersonalityBlock> blocks;
    std::int32_t type = 0;
    while (config_.NextBackupType(type)) {
      std::int32_t address = 0;
      std::int32_t length = 0;
      config_.GetBackupBlock(static_cast<std::uint32_t>(type), plan.radioCodeplugMajor,
                             plan.toolCodeplugMajor, address, length);
      blocks.push_back(PersonalityBlock{type, static_cast<std::uint32_t>(address),
                                        static_cast<std::uint32_t>(length)});
    }
    program_.setPersonalityBlocks(blocks);
  }
  program_.toolFirmwareVersion = run.tool.firmware;
  program_.toolCodeplugVersion = run.plan.codeplugShown;
  program_.packageSha256 = run.record.packageSha256;
  runProgramCommand(run);
}

// Runs the configured update command; a failure goes to the error log with what caused it.
void MainController::runProgramCommand(UpdateRun& run) {
  view_.enableControl(Control::Update, false);
  startErrorText();
  const bool programmed = runCommand(program_);
  run.commandRan = true;
  run.record.backupFile = program_.backupFile();
  if (programmed) {
    if (radio().readIdentity()) {
      infoValid_ = true;
    } else {
      run.outcome = {str(StringId::ConnectFailed), kStyleError, false};
      run.ok = false;
    }
    tellJournalProblems(run);
    return;
  }
  if (program_.personalityChangedSince()) {
    // Nothing was written; the caller asks what to do.
    run.ok = false;
    return;
  }
  const std::string errors = joinedErrorText();
  run.record.errorLines = errors;
  errorLog().logLine(
      "Update radio failed (Model:%s,SN:%s,Firmware:%s,Codeplug:%s,Restore:%d), "
      "this's caused by:\n%s",
      modelNumberText().c_str(), run.radio.serial.c_str(), run.radio.firmware.c_str(),
      run.radio.codeplug.c_str(), run.keep ? 1 : 0, errors.c_str());
  if (!program_.backupFile().empty()) {
    errorLog().logLine("The radio's personality is saved in [%s].",
                       program_.backupFile().string().c_str());
  }
  const bool fileFailed = fileCategory(firstErrorCategory());
  run.outcome = {fileFailed ? str(StringId::FileMissing) : str(StringId::UpdateFailed), kStyleError,
                 false};
  run.outcome.cause = newestFailureLine();
  if (fileFailed && !run.outcome.cause.empty()) {
    // The line names the file and its place.
    run.outcome.text += "\n\n" + reasonSentence(run.outcome.cause);
  }
  if (!program_.backupProblem().empty()) {
    // Nothing was erased; the user can make room or fix the folder and try again.
    run.outcome.text += "\n" + formatText(kBackupNotSaved, program_.backupFolder.c_str(),
                                          program_.backupProblem().c_str());
    run.outcome.unwritableFolder = program_.backupFolder;
  } else if (!program_.journalNotWritten().empty()) {
    run.outcome.unwritableFolder = program_.journalNotWritten();
  }
  removeErrors(ErrorCategory::OK);
  run.ok = false;
  // Past its first erase, a failed update stays in the journal until it is completed.
  JournalEntry entry;
  std::string reason;
  if (!journalFolder_.empty() &&
      UpdateJournal(journalFolder_).read(run.radio.serial, entry, reason, radioPrivateId()) ==
          UpdateJournal::Found::Entry &&
      !entry.finished) {
    run.outcome.text += "\n" + formatText(kUpdateUnfinished, entry.stage.c_str());
    run.outcome.unfinished = true;
  }
  tellJournalProblems(run);
}

void MainController::tellJournalProblems(UpdateRun& run) {
  const std::vector<std::string>& problems = program_.journalProblems();
  if (problems.empty()) {
    return;
  }
  std::string text;
  if (program_.journalLeftUnfinished()) {
    const std::string entryPath = UpdateJournal(journalFolder_)
                                      .entryPath(run.radio.serial, radioPrivateId())
                                      .value_or("")
                                      .string();
    text = formatText(kJournalNotFinished, problems.back().c_str(), entryPath.c_str());
    if (run.outcome.style == kStyleInformation) {
      run.outcome.style = kStyleWarning;
    }
  } else if (program_.journalNotStarted()) {
    text = formatText(kJournalNotWritten, problems.front().c_str());
  } else {
    text = formatText(kJournalStageNotWritten, problems.front().c_str());
  }
  run.outcome.text += "\n" + text;
  errorLog().logText(text.c_str());
}

void MainController::reportUpdate(UpdateRun& run) {
  keypadUpdatedBeforeCancel_ = run.cancelled && run.keypadUpdated;
  if (run.cancelled) {
    finish(ActionOutcome{std::string(), 0, true});
  } else {
    UpdateRecord& record = run.record;
    // A radio that never told its model has none: not the zeros of an empty record.
    record.model = run.identified ? modelNumberText() : std::string();
    const RadioVersions after = readRadioVersions(radio());
    record.serialAfter = after.serial;
    record.firmwareAfter = after.firmware;
    record.codeplugAfter = after.codeplug;
    record.keypadAfter = after.keypad;
    manager_.disconnect();
    if (run.ok) {
      fillRadioPanel();
    }
    if (testMode_ != 0) {
      if (!reportToConsole(run.ok)) {
        view_.showMessage(kConsoleUnreachable, kStyleInformation);
      }
    } else if (run.outcome.style == kStyleError && !record.backupFile.empty() &&
               program_.radioChanged()) {
      view_.showUpdateFailure(run.outcome.text, run.outcome.style, record.backupFile);
    } else {
      view_.showMessage(run.outcome.text, run.outcome.style);
    }
    finish(run.outcome);
    lastUpdate_ = record;
    if (updateObserver_ && (run.commandRan || run.keypadUpdated || !run.ok)) {
      updateObserver_(record, run.outcome);
    }
  }
  closeIfOpen();
  updateControls();
  setBusy(kIdle);
  view_.setBusyCursor(false);
}

const char* MainController::addressMapFiles(std::string& newFile, std::string& oldFile) {
  VersionFamilies address =
      pickFamilies([&](std::string& version) { return config_.NextAddressVersion(version); });
  if (!address.newVersion.empty()) {
    address.oldVersion = address.newVersion;
  }
  if (!address.oldVersion.empty()) {
    address.newVersion = address.oldVersion;
  }
  if (!config_.GetAddressFile(address.newVersion, newFile)) {
    return "New ADDR file is lost.";
  }
  if (!config_.GetAddressFile(address.oldVersion, oldFile)) {
    return "Old ADDR file is lost.";
  }
  return nullptr;
}

bool MainController::reportToConsole(bool success) {
  for (int attempt = 0; attempt < kConsolePostAttempts; ++attempt) {
    if (console_ != nullptr &&
        console_->post(consoleWindow_, ConsoleMessage::End, kUpdateEndTag, success ? 1 : 0)) {
      return true;
    }
  }
  return false;
}

void MainController::setBusy(Busy operation) {
  const bool wasRunning = busyOperation_ != kIdle;
  busyOperation_ = operation;
  if (console_ != nullptr && wasRunning != (operation != kIdle)) {
    console_->setActionRunning(operation != kIdle);
  }
}

bool MainController::runCommand(Command& command, const std::string& waitText) {
  command.radioInfo = &radio();
  command.notifyWindow = window();
  command.progressSpan = kProgressRange;
  command.progressBase = 0;
  CTaskDialog dialog(task_, view_.waitView());
  if (!waitText.empty()) {
    dialog.setText(waitText);
  }
  dialog.addCommand(&command);
  dialog.run();
  command.radioInfo = nullptr;
  command.notifyWindow = kNoWindow;
  return command.resultFlag;
}

bool MainController::runKeypadUpdate() {
  keypadReport_.clear();
  if (radio().engine().bootloadRequest() < 0) {
    appendError(ErrorCategory::UPDATE, "Error:failed to put radio in bootload mode.");
    return false;
  }
  closeIfOpen();
  manager_.suspendMonitor();
  view_.enableControl(Control::Update, false);
  const bool programmed = runCommand(keypad_, str(StringId::KeypadUpdateWait));
  manager_.resumeMonitor();
  if (!programmed) {
    keypadReport_.push_back(keypad_.scriptEnding());
    keypadReport_.insert(keypadReport_.end(), keypad_.scriptOutput().begin(),
                         keypad_.scriptOutput().end());
  }
  const bool connected = manager_.connect(true);
  if (!programmed) {
    return false;
  }
  // The radio has restarted with its new keypad firmware: what it runs now is read again, and
  // a radio that does not come back ends the update here.
  if (!connected || !radio().readIdentity()) {
    keypadReport_.push_back("Error:the radio did not answer after its keypad update.");
    return false;
  }
  return true;
}

void MainController::onUpdateSerialNumber() {
  view_.setBusyCursor(true);
  ActionOutcome outcome{str(StringId::SerialNumberUpdated), kStyleInformation, false};
  bool ok = true;
  setBusy(kWritingSerial);
  startErrorText();
  view_.enableControl(Control::SerialNumberEdit, false);
  view_.enableControl(Control::UpdateSerialNumber, false);
  checkSingleCable();
  const auto fail = [&](StringId id) {
    ok = false;
    outcome = {str(id), kStyleError, false};
  };

  UpdateRecord record;
  record.kind = "serial";
  record.started = std::chrono::system_clock::now();
  if (!connectCable(outcome)) {
    ok = false;
  } else if (const Identity identity = readIdentityInStep(); identity != Identity::Supported) {
    ok = identityFailed(identity, outcome);
  }
  std::string current;
  std::string typed;
  if (ok) {
    current = RadioInfo::serialText(radio().serialBytes()).value_or("");
    typed = view_.typedSerialNumber().substr(0, 256);
    if (!serialNumberAllowed(typed, radio().serialLength)) {
      fail(StringId::SerialNumberIncorrect);
    } else if (typed == current) {
      fail(StringId::SerialNumberUnchanged);
    }
  }
  record.model = modelNumberText();
  record.serialBefore = current;
  const RadioVersions before = readRadioVersions(radio());
  record.firmwareBefore = before.firmware;
  record.codeplugBefore = before.codeplug;
  record.keypadBefore = before.keypad;
  if (ok) {
    serial_.newSerialNumber.fill(0);
    const std::size_t length = static_cast<std::uint8_t>(radio().serialLength);
    for (std::size_t i = 0; i < length && i < typed.size() && i < serial_.newSerialNumber.size();
         ++i) {
      serial_.newSerialNumber[i] = static_cast<std::uint8_t>(typed[i]);
    }
    startErrorText();
    if (runCommand(serial_)) {
      if (radio().readIdentity()) {
        infoValid_ = true;
      } else {
        outcome = {str(StringId::ConnectFailed), kStyleError, false};
      }
    } else {
      fail(StringId::SerialNumberNotUpdated);
      record.errorLines = joinedErrorText();
    }
    record.serialAfter = RadioInfo::serialText(radio().serialBytes()).value_or("");
  }
  closeIfOpen();
  if (ok) {
    fillRadioPanel();
  }
  view_.showMessage(outcome.text, outcome.style);
  if (!ok) {
    view_.selectSerialNumber();
  }
  finish(outcome);
  if (updateObserver_ && !record.serialBefore.empty()) {
    updateObserver_(record, outcome);
  }
  updateControls();
  setBusy(kIdle);
  view_.setBusyCursor(false);
}

void MainController::onRestorePersonality(const std::filesystem::path& backupFile) {
  if (busyOperation_ != kIdle) {
    return;  // one action at a time
  }
  // What the radio holds now is replaced: both front ends ask first.
  if (view_.showMessage(formatText(kRestoreQuestion, backupFile.string().c_str()),
                        kStyleQuestion) != kAnswerYes) {
    finish(ActionOutcome{std::string(), 0, true});
    return;
  }
  view_.setBusyCursor(true);
  setBusy(kUpdating);
  startErrorText();
  view_.enableControl(Control::Update, false);
  checkSingleCable();
  ActionOutcome outcome{kRestoreSucceeded, kStyleInformation, false};
  if (connectAndIdentify(true, outcome) && !packageRefused(outcome)) {
    // The package's address map places the DYN block the file must fit. Both codeplug families
    // take the same map, so a radio whose codeplug version a failed update left unreadable is
    // served as well.
    std::string newAddressFile;
    std::string oldAddressFile;
    if (const char* lost = addressMapFiles(newAddressFile, oldAddressFile)) {
      errorLog().logText(lost);
      outcome = {kRestoreFailed, kStyleError, false};
    } else {
      restore_.setBackupFile(backupFile);
      restore_.setAddressMapFile(newAddressFile);
      startErrorText();
      if (!runCommand(restore_)) {
        errorLog().logLine("Restore of the personality from [%s] failed, this's caused by:\n%s",
                           backupFile.string().c_str(), joinedErrorText().c_str());
        removeErrors(ErrorCategory::OK);
        outcome = {kRestoreFailed, kStyleError, false};
      } else if (radio().readIdentity()) {
        infoValid_ = true;
      }
    }
  }
  manager_.disconnect();
  if (outcome.style == kStyleInformation) {
    fillRadioPanel();
  }
  view_.showMessage(outcome.text, outcome.style);
  finish(outcome);
  updateControls();
  setBusy(kIdle);
  view_.setBusyCursor(false);
}

void MainController::onDealerLogin() {
  if (dealerMode_) {
    return;
  }
  std::string password;
  std::string saved;
  if (!config_.GetDealerPasswords(password, saved)) {
    return;
  }
  bool wrong = false;
  for (;;) {
    const auto typed = view_.askPassword(wrong);
    if (!typed) {
      return;
    }
    if (*typed == password) {
      break;
    }
    wrong = true;
  }
  dealerMode_ = true;
  view_.enableDealerLogin(false);
  const bool remembered = config_.SetSavedPassword(password);
  view_.layoutForDealerMode(true);
  updateControls();
  if (!remembered) {
    const std::string text = formatText(kLoginNotSaved, config_.loadedPath.c_str());
    errorLog().logText(text.c_str());
    view_.showMessage(text, kStyleWarning);
  }
}

bool MainController::onDealerLogout() {
  const bool forgotten = config_.ClearSavedPassword();
  if (dealerMode_) {
    dealerMode_ = false;
    view_.enableDealerLogin(true);
    view_.enableControl(Control::SerialNumberEdit, false);
    view_.enableControl(Control::UpdateSerialNumber, false);
    view_.layoutForDealerMode(false);
    updateControls();
  }
  return forgotten;
}

void MainController::setTestMode(int testMode) {
  if ((testMode_ != 0) == (testMode != 0)) {
    return;
  }
  testMode_ = testMode;
  if (testMode_ == 0) {
    testModeConsole_ = 0;
  }
  view_.setTitle(title());
  view_.showTestMode(testMode_ != 0);
}

void MainController::onLeaveTestMode() {
  if (busyOperation_ != kIdle) {
    return;
  }
  setTestMode(0);
}

void MainController::onConsoleGone(WParam handle) {
  if (testMode_ != 0 && handle != 0 && handle == testModeConsole_) {
    setTestMode(0);
  }
}

int MainController::onConsoleMessage(ConsoleMessage message, WParam wParam, LParam lParam) {
  if (lParam != kConsoleMagic || console_ == nullptr || !console_->isConsole(wParam)) {
    return 1;
  }
  switch (message) {
    case ConsoleMessage::EnterTestMode:
      if (testMode_ == 0) {
        if (!view_.confirmTestMode(kTestModeQuestion)) {
          return 0;
        }
        setTestMode(1);
      }
      testModeConsole_ = wParam;
      view_.flashWindow();
      console_->post(wParam, ConsoleMessage::EnterTestMode, window(), kConsoleAcknowledge);
      return 1;
    case ConsoleMessage::ExitTestMode:
      setTestMode(0);
      view_.flashWindow();
      console_->post(wParam, ConsoleMessage::ExitTestMode, window(), kConsoleAcknowledge);
      return 1;
    case ConsoleMessage::Start:
      if (busyOperation_ == kIdle) {
        consoleWindow_ = wParam;
        onUpdate();
      }
      return 1;
    case ConsoleMessage::End:
      return 1;
  }
  return 1;
}

void MainController::onCableCount(LParam count) {
  const bool connected = count > 0;
  if (!cableTextSet_ || cableTextConnected_ != connected) {
    view_.setCableStatus(connected);
    cableTextSet_ = true;
    cableTextConnected_ = connected;
  }
  if (inCableCount_) {
    return;
  }
  inCableCount_ = true;
  const bool old = cablePresent_;
  cablePresent_ = connected;
  if (busyOperation_ == kIdle) {
    if (cablePresent_ != old) {
      updateControls();
    }
    if (count >= 2) {
      const bool afterFirst = cablePresent_;
      view_.setBusyCursor(true);
      cablePresent_ = checkSingleCable() > 0;
      view_.setBusyCursor(false);
      if (cablePresent_ != afterFirst) {
        updateControls();
      }
    }
  }
  inCableCount_ = false;
}

void MainController::onDeviceRemoved() {
  if (manager_.countDevices() == 0 && radio().connected) {
    manager_.disconnect();
  }
}

int MainController::checkSingleCable() {
  if (testMode_ != 0) {
    return 0;
  }
  USBSerial& port = radio().port();
  for (;;) {
    int first = -1;
    const int count = port.countCables(first);
    port.setLastStatus(0);
    if (count < 2) {
      return count;
    }
    view_.showMessage(formatText(str(StringId::TooManyCables).c_str(), count), kStyleWarning);
  }
}

void MainController::fillRadioPanel() {
  RadioInfo& info = radio();
  RadioPanel panel = panel_;
  panel.regionalCode =
      info.regionCode >= 0 ? RadioInfo::regionText(info.regionCode) : str(StringId::NotAvailable);
  panel.codeplugVersion = orNotAvailable(RadioInfo::versionRecordText(info.codeplugVersionRecord));
  panel.firmwareVersion = orNotAvailable(RadioInfo::versionRecordText(info.firmwareVersionRecord));
  panel.keypadVersion = orNotAvailable(RadioInfo::versionRecordText(info.keypadVersionRecord));
  panel.modelNumber = modelNumberText();
  ModelInfo model;
  if (config_.GetModel(panel.modelNumber, model)) {
    std::string type = str(StringId::SeriesFormat);  // "%1 Series"
    const std::size_t slot = type.find("%1");
    if (slot != std::string::npos) {
      type.replace(slot, 2, model.type);
    }
    panel.radioType = orNotAvailable(type);
    panel.model = orNotAvailable(model.alias);
    panel.image = model.image;
  } else {
    panel.radioType = str(StringId::NotAvailable);
    panel.model = str(StringId::NotAvailable);
  }
  panel.serialNumber = orNotAvailable(RadioInfo::serialText(info.serialBytes()));
  panel.privateId = orNotAvailable(RadioInfo::privateIdText(info.privateId));
  if (infoValid_) {
    const std::time_t now = now_();
    std::tm local{};
    std::array<char, 128> text{};
    if (localtime_r(&now, &local) != nullptr &&
        std::strftime(text.data(), text.size(), "[ %m-%d %H:%M ]", &local) > 0) {
      panel.timeStamp = text.data();
    } else {
      panel.timeStamp.clear();
    }
    panel.timeStampVisible = true;
  }
  panel_ = panel;
  view_.showPanel(panel_);
}

void MainController::updateControls() {
  if (cablePresent_) {
    std::optional<Control> firstDisabled;
    for (Control control : {Control::GetRadioInfo, Control::Update, Control::UpdateSerialNumber}) {
      if (control == Control::UpdateSerialNumber && !dealerMode_) {
        continue;
      }
      if (!firstDisabled && !view_.controlEnabled(control)) {
        firstDisabled = control;
      }
    }
    view_.enableControl(Control::GetRadioInfo, true);
    view_.enableControl(Control::KeepPersonality, true);
    view_.enableControl(Control::Update, true);
    if (dealerMode_) {
      view_.enableControl(Control::SerialNumberEdit, true);
      view_.enableControl(Control::UpdateSerialNumber, true);
    }
    if (firstDisabled) {
      view_.focusControl(*firstDisabled);
    }
    view_.setCableStatus(true);
  } else {
    view_.enableControl(Control::GetRadioInfo, false);
    view_.enableControl(Control::KeepPersonality, false);
    view_.enableControl(Control::Update, false);
    if (dealerMode_) {
      view_.enableControl(Control::SerialNumberEdit, false);
      view_.enableControl(Control::UpdateSerialNumber, false);
    }
    view_.setCableStatus(false);
    view_.focusControl(Control::RadioTypeField);
  }
  cableTextSet_ = true;
  cableTextConnected_ = cablePresent_;
  if (infoValid_ && !panel_.timeStampVisible) {
    panel_.timeStampVisible = true;
    view_.showPanel(panel_);
  }
}

}  // namespace orvik
