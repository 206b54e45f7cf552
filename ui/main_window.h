#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ui/help_opener.h"
#include "workflow/main_view.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace orvik {

class CDialogPwd;
class CMsgBox;
class CProgressStatusBar;
class Config;
class MainController;
class QtMessagePump;
class QtWaitView;

// The tool's main window: the radio information panel, the update group, the dealer's
// serial-number row, the menus and the status bar with the progress. It is the MainController's
// view: every rule lives in the controller, the window only shows what it is told and hands
// clicks and menu commands on.
class COstrelFlashToolDlg : public QMainWindow, public MainView {
 public:
  // Menu commands.
  static constexpr int kExitId = 32773;
  static constexpr int kDealerLoginId = 32774;
  static constexpr int kAboutId = 32775;
  static constexpr int kHelpContentsId = 32776;
  // Past the language ids.
  static constexpr int kRestorePersonalityId = 32800;
  static constexpr int kLeaveTestModeId = 32801;
  static constexpr int kPanelFieldCount = 8;

  // How a dialog is run; by default modally. Tests and the screenshot run answer them.
  using MessageBoxRunner = std::function<int(CMsgBox&)>;
  using PasswordRunner = std::function<int(CDialogPwd&)>;
  // Asks for a personality backup file, starting in the given folder; empty when none is chosen.
  using FileChooser = std::function<QString(const QString& folder)>;

  COstrelFlashToolDlg(Config& config, QtMessagePump& pump, QWidget* parent = nullptr);
  ~COstrelFlashToolDlg() override;

  // The logic behind the window; set before the controller's initialize.
  void setController(MainController* controller) { controller_ = controller; }
  // The tool's installation folder, where the help files lie in lang/.
  void setBaseFolder(const std::filesystem::path& folder) { baseFolder_ = folder; }
  // Who signed the update package in use, for the about box.
  void setPackageSigner(std::string signer) { packageSigner_ = std::move(signer); }
  void setMessageBoxRunner(MessageBoxRunner runner) { messageBoxRunner_ = std::move(runner); }
  void setPasswordRunner(PasswordRunner runner) { passwordRunner_ = std::move(runner); }
  void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
  // Runs the desktop's opener of the help files; tests answer for it.
  void setHelpLauncher(ProgramLauncher launcher) { helpLauncher_ = std::move(launcher); }
  // Told every progress value the window shows.
  void setProgressObserver(std::function<void(unsigned)> observer) {
    progressObserver_ = std::move(observer);
  }

  // Menu commands, as the menus run them.
  void onExit();
  void onRestorePersonality();
  void onAbout();
  void onHelp();
  void onLanguage(int menuId);

  CProgressStatusBar* progressStatusBar() const { return statusBar_; }
  QtWaitView& qtWaitView() { return *waitView_; }
  QWidget* control(Control control) const;
  QLineEdit* panelField(int index) const { return fields_.at(static_cast<std::size_t>(index)); }
  QLabel* panelLabel(int index) const { return labels_.at(static_cast<std::size_t>(index)); }
  QLabel* timeStampLabel() const { return timeStamp_; }
  QLabel* pictureLabel() const { return picture_; }
  QGroupBox* serialGroup() const { return serialGroup_; }
  // The line that says the window is in test mode; hidden out of it.
  QLabel* testModeBanner() const { return testModeBanner_; }
  QLineEdit* serialEdit() const { return serialEdit_; }
  QMenu* fileMenu() const { return fileMenu_; }
  QMenu* settingMenu() const { return settingMenu_; }
  QMenu* languageMenu() const { return languageMenu_; }
  QMenu* helpMenu() const { return helpMenu_; }
  QAction* menuAction(int id) const;

  // MainView
  int showMessage(const std::string& text, unsigned style) override;
  bool confirmTestMode(const std::string& text) override;
  void setBusyCursor(bool busy) override;
  void enableControl(Control control, bool enabled) override;
  bool controlEnabled(Control control) override;
  void focusControl(Control control) override;
  void showPanel(const RadioPanel& panel) override;
  std::string typedSerialNumber() override;
  void selectSerialNumber() override;
  bool keepPersonality() override;
  void setKeepPersonality(bool checked) override;
  void setCableStatus(bool connected) override;
  void setProgress(unsigned position) override;
  void setStatusText(const std::string& text) override;
  void setTitle(const std::string& title) override;
  void flashWindow() override;
  void layoutForDealerMode(bool dealerMode) override;
  void enableDealerLogin(bool enabled) override;
  std::optional<std::string> askPassword(bool wrongPassword) override;
  WaitView& waitView() override;
  void showUpdateFailure(const std::string& text, unsigned style,
                         const std::filesystem::path& personalityBackup) override;
  void showTestMode(bool testMode) override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void buildPanel(QWidget* central);
  void buildMenus();
  void buildLanguageMenu();
  void setPicture(int image);
  void fitToContents();
  void setHelpText(const QString& text);

  Config& config_;
  MainController* controller_ = nullptr;
  std::string packageSigner_;
  std::filesystem::path baseFolder_;
  MessageBoxRunner messageBoxRunner_;
  PasswordRunner passwordRunner_;
  FileChooser fileChooser_;
  ProgramLauncher helpLauncher_;
  std::function<void(unsigned)> progressObserver_;
  std::unique_ptr<QtWaitView> waitView_;

  std::array<QLineEdit*, kPanelFieldCount> fields_{};
  std::array<QLabel*, kPanelFieldCount> labels_{};
  QLabel* picture_ = nullptr;
  QLabel* timeStamp_ = nullptr;
  QLabel* testModeBanner_ = nullptr;
  QPushButton* getInfoButton_ = nullptr;
  QCheckBox* keepBox_ = nullptr;
  QPushButton* updateButton_ = nullptr;
  QGroupBox* serialGroup_ = nullptr;
  QLineEdit* serialEdit_ = nullptr;
  QPushButton* serialButton_ = nullptr;
  CProgressStatusBar* statusBar_ = nullptr;

  QMenu* fileMenu_ = nullptr;
  QMenu* settingMenu_ = nullptr;
  QMenu* languageMenu_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  QActionGroup* languageGroup_ = nullptr;
  std::map<int, QAction*> actions_;

  // The model pictures by picture selector, and the one shown.
  std::map<int, QPixmap> pictures_;
  int currentPicture_ = -2;
  QString lastPassword_;
  int busyDepth_ = 0;
};

}  // namespace orvik
