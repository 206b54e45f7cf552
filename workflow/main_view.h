#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "exec/task_dialog.h"
#include "workflow/update_plan.h"

namespace orvik {

// Message-box styles and answers.
inline constexpr unsigned kStyleInformation = 0x40;
inline constexpr unsigned kStyleWarning = 0x30;
inline constexpr unsigned kStyleError = 0x10;
inline constexpr unsigned kStyleQuestion = 0x24;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// The main window's controls that the workflow enables, disables and focuses.
enum class Control {
  GetRadioInfo = 1058,
  Update = 1039,
  KeepPersonality = 1036,
  SerialNumberEdit = 1042,
  UpdateSerialNumber = 1044,
  RadioTypeField = 1068,
};

// The eight fields of the radio information panel and the time stamp, as shown.
struct RadioPanel {
  std::string radioType;
  std::string regionalCode;
  std::string model;
  std::string serialNumber;
  std::string firmwareVersion;
  std::string keypadVersion;
  std::string codeplugVersion;
  std::string privateId;
  std::string timeStamp = "[ 00-00 00:00 ]";
  bool timeStampVisible = false;
  // The radio's model number as read, which selects the picture; empty when unknown.
  std::string modelNumber;
  // The picture selector of the model in the configuration (-1 when unknown).
  int image = -1;
  bool operator==(const RadioPanel&) const = default;
};

// One version an update is about to change: what the radio has and what it will get.
struct VersionChange {
  std::string label;  // as the panel names it: "Firmware Version", ...
  std::string from;
  std::string to;
  bool operator==(const VersionChange&) const = default;
};

// What an update is about to do to one radio, told with the question that asks for it.
struct UpdateProposal {
  std::string serial;
  std::string model;
  // The radio's versions now and after the update (the same where nothing changes them).
  std::string firmwareBefore;
  std::string firmwareAfter;
  std::string codeplugBefore;
  std::string codeplugAfter;
  std::string keypadBefore;
  std::string keypadAfter;
  UpdatePlan::Programming programming = UpdatePlan::Programming::Nothing;
  // The keypad firmware is updated first.
  bool keypad = false;
  // The radio is taken back to an older version; the downgrade question follows a Yes.
  bool downgrade = false;
  // The update completes the radio's interrupted last update from its journal entry.
  bool completesInterrupted = false;
};

// What the main window's logic needs from a front end: the desktop window draws it, the
// terminal tool prints it, and the tests record it.
class MainView {
 public:
  virtual ~MainView() = default;

  // One message box; returns the button pressed (kAnswerOk, kAnswerYes, ...).
  virtual int showMessage(const std::string& text, unsigned style) = 0;
  // The question before an update writes to a radio, with what the update would do there: a
  // front end that answers by a rule instead of a person decides on the proposal. Returns the
  // button pressed, as showMessage does.
  virtual int confirmUpdate(const std::string& question, const UpdateProposal& /*proposal*/) {
    return showMessage(question, kStyleQuestion);
  }
  // A question only a person may answer, never a rule: --yes, a station's policy and test
  // mode do not answer it (the controller does not ask it in test mode). Returns kAnswerYes
  // or kAnswerNo.
  virtual int askPerson(const std::string& question) {
    return showMessage(question, kStyleQuestion);
  }
  // The plain Yes/No question before test mode; true for Yes.
  virtual bool confirmTestMode(const std::string& text) = 0;
  virtual void setBusyCursor(bool busy) = 0;
  virtual void enableControl(Control control, bool enabled) = 0;
  virtual bool controlEnabled(Control control) = 0;
  virtual void focusControl(Control control) = 0;
  virtual void showPanel(const RadioPanel& panel) = 0;
  // The serial number a dealer typed.
  virtual std::string typedSerialNumber() = 0;
  // Selects the typed serial number and gives the edit the focus, after a refusal.
  virtual void selectSerialNumber() = 0;
  virtual bool keepPersonality() = 0;
  virtual void setKeepPersonality(bool checked) = 0;
  // The cable text of the status bar.
  virtual void setCableStatus(bool connected) = 0;
  // Progress of the running command, 0 to 100; 0 clears it.
  virtual void setProgress(unsigned position) = 0;
  // The step of the running update that the progress belongs to ("backup", "erase",
  // "firmware", ...); empty once the update has failed, when its progress means nothing more.
  virtual void setProgressStep(const std::string& /*step*/) {}
  virtual void setStatusText(const std::string& text) = 0;
  virtual void setTitle(const std::string& title) = 0;
  virtual void flashWindow() = 0;
  // Shows or hides the serial-number row.
  virtual void layoutForDealerMode(bool dealerMode) = 0;
  virtual void enableDealerLogin(bool enabled) = 0;
  // The login dialog: the typed password, or nothing when it was closed without Login. With
  // wrongPassword the hint line says the last password was not correct.
  virtual std::optional<std::string> askPassword(bool wrongPassword) = 0;
  // How the wait dialog is shown while a command runs.
  virtual WaitView& waitView() = 0;
  // The result of a failed update whose run had saved the radio's personality to a file, as
  // one message that also names the file: the user writes it back once the radio works again.
  virtual void showUpdateFailure(const std::string& text, unsigned style,
                                 const std::filesystem::path& personalityBackup) = 0;
  // The versions an update question is about, told just before the question is shown.
  virtual void showVersionChanges(const std::vector<VersionChange>& changes) { (void)changes; }
  // Test mode began or ended: updates run without questions and report to a console while it
  // lasts, so the view says so plainly and offers a way out.
  virtual void showTestMode(bool testMode) { (void)testMode; }
};

}  // namespace orvik
