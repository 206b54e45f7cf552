#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "app/startup_view.h"
#include "workflow/main_view.h"

namespace orvik {

// The main window drawn in a terminal: questions on standard error answered by a line on
// standard input, progress as a bar on a terminal and as percentage lines otherwise, and the
// panel and the result printed when the command is over.
class TerminalView final : public MainView, public WaitView {
 public:
  struct Options {
    bool answerYes = false;    // every question is answered Yes without asking
    bool progressBar = false;  // standard error is a terminal
    // A headless station: nobody answers, so questions are answered No (test mode asks none),
    // entering test mode is agreed to, and results are handed to onResult.
    bool station = false;
    // The terminal on which a password is typed, hidden; -1 when it is not one.
    int passwordTerminal = -1;
    std::function<void(const std::string& text, unsigned style)> onResult;
  };

  TerminalView(std::istream& in, std::ostream& err, Options options);

  // The last message shown and whether a question was answered No.
  const std::optional<std::pair<std::string, unsigned>>& lastMessage() const { return last_; }
  bool declined() const { return declined_; }
  // A serial number to hand to the workflow as typed.
  void setTypedSerialNumber(std::string text) { typed_ = std::move(text); }
  void setKeepPersonality(bool checked) override { keep_ = checked; }
  // Messages from here on are only remembered, not printed; the caller prints the result.
  void setQuiet(bool quiet) { quiet_ = quiet; }
  const RadioPanel& panel() const { return panel_; }

  // MainView
  int showMessage(const std::string& text, unsigned style) override;
  bool confirmTestMode(const std::string& text) override;
  int askPerson(const std::string& question) override;
  void setBusyCursor(bool) override {}
  void enableControl(Control, bool) override {}
  bool controlEnabled(Control) override { return true; }
  void focusControl(Control) override {}
  void showPanel(const RadioPanel& panel) override { panel_ = panel; }
  std::string typedSerialNumber() override { return typed_; }
  void selectSerialNumber() override {}
  bool keepPersonality() override { return keep_; }
  void setCableStatus(bool) override {}
  void setProgress(unsigned position) override;
  void setProgressStep(const std::string& step) override;
  void setStatusText(const std::string&) override {}
  void setTitle(const std::string&) override {}
  void flashWindow() override {}
  void layoutForDealerMode(bool) override {}
  void enableDealerLogin(bool) override {}
  std::optional<std::string> askPassword(bool wrongPassword) override;
  WaitView& waitView() override { return *this; }
  void showUpdateFailure(const std::string& text, unsigned style,
                         const std::filesystem::path& personalityBackup) override;
  void showVersionChanges(const std::vector<VersionChange>& changes) override;
  void showTestMode(bool testMode) override;

  // WaitView: runs the messages of the command and draws its progress.
  void runModal(const std::string& text, const std::function<bool()>& ended) override;

 private:
  std::optional<std::string> readLine();
  void endProgressLine();
  void drawBar();
  void printProgressLine();

  std::istream& in_;
  std::ostream& err_;
  Options options_;
  std::optional<std::pair<std::string, unsigned>> last_;
  bool declined_ = false;
  bool keep_ = true;
  bool quiet_ = false;
  std::string typed_;
  RadioPanel panel_;
  std::string waitText_;
  std::string step_;
  std::optional<unsigned> lastProgress_;
  // The command failed: the rest of its progress is bookkeeping and not shown.
  bool abandoned_ = false;
  bool progressLineOpen_ = false;
};

// Start-up's messages in a terminal: printed on standard error.
class TerminalStartupView final : public StartupView {
 public:
  explicit TerminalStartupView(std::ostream& err) : err_(err) {}
  void showMessage(const std::string& text, unsigned style) override;
  void raiseWindow() override {}

 private:
  std::ostream& err_;
};

}  // namespace orvik
