#pragma once

// The main window's logic on a bench: a package written with orvik-pack's library, the
// simulated radio in process, a view that records what it is told and answers from a script,
// a console that records what it is sent, and a keypad boot-loader that exits with a chosen
// code.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/config.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"
#include "workflow/main_controller.h"

namespace orvik::testing {

// The results and questions as the user reads them.
inline constexpr const char* kKeypadWaitText = "Please wait. Updating Keypad Firmware...";
inline constexpr const char* kFileMissing =
    "A file needed for application could not be found or is corrupted. Please re-install the "
    "application.\nIf you continue to get this message, please contact Customer Service.";
inline constexpr const char* kUpdated = "Update successful.";
inline constexpr const char* kUpdateFailed = "Update failed.";
inline constexpr const char* kKeypadFailed = "Update Keypad Firmware Version Failed. ";
inline constexpr const char* kLatest = "Radio version is the latest. No need to update.";
inline constexpr const char* kIncompatible =
    "The update tool can't update this radio for the version compatibility issue.";
inline constexpr const char* kNotConnected = "Failed to connect radio.";
inline constexpr const char* kRadioSilent =
    "Failed to connect radio.\nThe radio did not answer. Check that it is switched on and "
    "attached to the cable.";
inline constexpr const char* kUnsupportedRadio = "The update tool does not support this radio.";
inline constexpr const char* kDowngradeQuestion =
    "Do you want to restore to old radio software version?  Some new features can not be used "
    "after the update.";
inline constexpr const char* kTwoCables =
    "There are 2 USB conections. Please remove the unused and keep one connection only.";

// The go-ahead question (116) with the tool's versions.
std::string goAheadQuestion(const std::string& firmware, const std::string& codeplug,
                            const std::string& keypad);
// The questions an update asks, told apart by their words.
enum class Question { GoAhead, Downgrade, Other };
std::vector<Question> questionKinds(const std::vector<std::string>& questions);
// The lines of the error log without their time stamps.
std::vector<std::string> logLines(const std::string& log);

// What the package offers; every listed version gets its container.
struct PackageSpec {
  std::string firmware = "R01.03.00";  // empty: the package names no firmware
  std::string keypad = "R01.00.00";    // empty: no keypad element
  std::vector<std::string> codeplugVersions = {"R01.04.00", "R01.03.00"};
  std::vector<std::string> addressVersions = {"R01.04.00", "R01.03.00"};
  // The length of the DYN backup rule as written in the file; empty: no DYN rule.
  std::string dynLength = "1000";
  std::string dealerPassword = "12345678";
  std::string savedPassword;
};

// The versions of the simulated radio, as its records hold them.
SimRadioConfig radioWith(const char* firmware, const char* codeplug,
                         const char* keypad = "R01.00.00");

class RecordingWait final : public WaitView {
 public:
  void runModal(const std::string& text, const std::function<bool()>& ended) override;

  std::vector<std::string> texts;
  // Run on the window's thread while the command works, and after it ended.
  std::function<void(const std::string&)> during;
  std::function<void(const std::string&)> after;

 private:
  QueueWaitView queue_;
};

class RecordingView : public MainView {
 public:
  struct Shown {
    std::string text;
    unsigned style;
    bool operator==(const Shown&) const = default;
  };

  int showMessage(const std::string& text, unsigned style) override;
  int confirmUpdate(const std::string& question, const UpdateProposal& proposal) override {
    proposals.push_back(proposal);
    return showMessage(question, kStyleQuestion);
  }
  bool confirmTestMode(const std::string& text) override;
  void setBusyCursor(bool) override {}
  void enableControl(Control control, bool enabled) override { controls[control] = enabled; }
  bool controlEnabled(Control control) override { return controls[control]; }
  void focusControl(Control) override {}
  void showPanel(const RadioPanel& shown) override { panel = shown; }
  std::string typedSerialNumber() override { return typedSerial; }
  void selectSerialNumber() override { ++serialSelected; }
  bool keepPersonality() override { return keep; }
  void setKeepPersonality(bool checked) override { keep = checked; }
  void setCableStatus(bool connected) override { cableConnected = connected; }
  void setProgress(unsigned position) override { progress.push_back(position); }
  void setStatusText(const std::string&) override {}
  void setTitle(const std::string& text) override { title = text; }
  void flashWindow() override { ++flashes; }
  void layoutForDealerMode(bool dealer) override { dealerLayout = dealer; }
  void enableDealerLogin(bool enabled) override { dealerLoginEnabled = enabled; }
  std::optional<std::string> askPassword(bool wrongPassword) override;
  WaitView& waitView() override { return wait; }
  void showUpdateFailure(const std::string& text, unsigned style,
                         const std::filesystem::path& personalityBackup) override {
    backupsShown.push_back(personalityBackup);
    showMessage(text, style);
  }
  void showVersionChanges(const std::vector<VersionChange>& changes) override {
    versionChanges.push_back(changes);
  }
  void showTestMode(bool testMode) override { testModeShown.push_back(testMode); }

  // The questions asked and the other messages shown, each in order.
  std::vector<std::string> questions() const;
  std::vector<Shown> results() const;

  std::vector<Shown> messages;
  // What each question before an update said the update would do.
  std::vector<UpdateProposal> proposals;
  // Answers to the Yes/No questions in order. A question asked after they run out fails the
  // test (an extra question is a change the user sees), unless the test lets such questions
  // be answered Yes.
  std::deque<int> answers;
  bool yesToUnplannedQuestions = false;
  // Called for every message before it is answered.
  std::function<void(const Shown&)> onShow;
  std::deque<std::string> passwords;
  std::vector<bool> passwordHints;
  std::vector<std::string> testModeQuestions;
  bool acceptTestMode = true;
  std::map<Control, bool> controls;
  RadioPanel panel;
  std::vector<unsigned> progress;
  std::string typedSerial;
  int serialSelected = 0;
  std::string title;
  int flashes = 0;
  bool keep = true;
  bool cableConnected = false;
  bool dealerLayout = false;
  bool dealerLoginEnabled = false;
  RecordingWait wait;
  std::vector<std::filesystem::path> backupsShown;
  // The versions told before each update question, and each change of test mode.
  std::vector<std::vector<VersionChange>> versionChanges;
  std::vector<bool> testModeShown;
};

class FakeConsole final : public ConsoleChannel {
 public:
  static constexpr WParam kHandle = 0xC0501E;

  struct Post {
    WParam to;
    ConsoleMessage message;
    WParam wParam;
    LParam lParam;
    bool operator==(const Post&) const = default;
  };

  bool isConsole(WParam handle) override { return consoles.contains(handle); }
  bool post(WParam console, ConsoleMessage message, WParam wParam, LParam lParam) override;
  void setActionRunning(bool running) override { actionRunning.push_back(running); }

  std::set<WParam> consoles{kHandle};
  // How many posts fail before one gets through; negative: every one fails.
  int refusals = 0;
  std::vector<Post> posts;
  std::vector<bool> actionRunning;
};

class Bench;

// The bench's keypad boot-loader, run in process in place of the script: one that succeeds
// programs the package's keypad version through the cable, as the vendor's script does through
// the port, so that the simulated radio leaves its boot-load mode with it. It then ends with
// the bench's exit code, having printed the bench's output.
class BenchBootLoader final : public KeypadScriptLauncher {
 public:
  struct Run {
    std::filesystem::path script;
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
  };

  explicit BenchBootLoader(Bench& bench) : bench_(bench) {}
  std::unique_ptr<KeypadScript> start(const std::filesystem::path& script,
                                      const std::vector<std::string>& arguments,
                                      const std::vector<std::string>& environment) override;

  std::vector<Run> runs;

 private:
  Bench& bench_;
};

// One tool and one radio. The package and the machine's setup file are written and loaded,
// the window is started and one cable is reported.
class Bench {
 public:
  explicit Bench(const PackageSpec& package = {}, const SimRadioConfig& radioConfig = {},
                 int exitCode = CmdKeypad::kSuccessExitCode);
  ~Bench();
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  // Loads the package and the machine's setup file as a (next) start of the tool does.
  bool load(Config& into) const;
  std::string logText() const;
  std::filesystem::path dataDir() const { return folder.path() / "data"; }
  std::filesystem::path setupPath() const { return folder.path() / "machine" / "setup.dat"; }
  std::filesystem::path firmwareContainer() const { return dataDir() / "firmware.kxk"; }

  // What the radio runs now.
  std::string radioFirmware() const;
  std::string radioCodeplug() const;
  std::string radioKeypad() const;
  std::string radioSerial() const;
  // The firmware region holds an image programmed by an update.
  bool firmwareProgrammed() const;
  bool codeplugProgrammed() const;
  bool keypadUpdated() const;
  int console(ConsoleMessage message, LParam lParam = kConsoleMagic,
              WParam handle = FakeConsole::kHandle);

  TempFolder folder;
  PackageSpec package;
  SimRadio radio;
  VirtualClock clock;
  SimCableDriver cable{radio, clock};
  RadioManager manager{cable, clock};
  Task task;
  Config config;
  RecordingView view;
  FakeConsole consoleChannel;
  MainController controller{manager, task, config, view};
  bool loaded = false;
  // What the keypad boot-loader does: its exit code, what it prints, and whether it starts.
  int keypadExitCode = CmdKeypad::kSuccessExitCode;
  std::string keypadOutput;
  bool keypadStartable = true;
  BenchBootLoader* bootLoader = nullptr;  // owned by the keypad command
};

// Writes the containers, config.xml and setup.dat of the package.
void writePackage(const std::filesystem::path& dataDir, const std::filesystem::path& setupPath,
                  const PackageSpec& package);

}  // namespace orvik::testing
