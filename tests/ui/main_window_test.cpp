// The main window on the simulated radio with the demo package: its menus, the dealer's row, the
// cable status arriving through the Qt loop, and a whole update clicked through.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>

#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "commands/update_journal.h"
#include "config/config.h"
#include "errors/error_log.h"
#include "pack/demo_package.h"
#include "pack/pack_cli.h"
#include "sim/radio_setup_text.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"
#include "tests/support/stop_points.h"
#include "ui/help_opener.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/msg_box.h"
#include "ui/progress_status_bar.h"
#include "ui/qt_message_pump.h"
#include "ui/wait_dialog.h"
#include "workflow/main_controller.h"

namespace orvik {
namespace {

struct Shown {
  QString text;
  unsigned kind;
  MessageIcon icon;
};

class MainWindowTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    std::ostringstream out, err;
    ASSERT_EQ(runPack({"demo", (folder_.path() / "data").string()}, out, err), kPackOk)
        << err.str();
    errorLog().setLogDirectory(folder_.path().string());
    ASSERT_TRUE(CreateXmlDocument(config.xmlDocument));
    ASSERT_TRUE(config.LoadConfig(configPath(), setupPath())) << joinedErrorText();
    task.create();
  }

  void TearDown() override {
    if (window) {
      window->setController(nullptr);
    }
    controller.reset();
    window.reset();
    ErrorTextTest::TearDown();
  }

  std::string configPath() const { return (folder_.path() / "data" / "config.xml").string(); }
  std::string setupPath() const {
    return (folder_.path() / "demo-machine" / "data" / "setup.dat").string();
  }

  // The window and its controller, as the program starts them; message boxes and the login
  // are answered from the scripts below instead of by a person.
  void openWindow() {
    window = std::make_unique<COstrelFlashToolDlg>(config, pump);
    window->setMessageBoxRunner([this](CMsgBox& box) {
      shown.push_back({box.text(), box.buttonKind(), box.icon()});
      if (!answers.empty()) {
        const int answer = answers.front();
        answers.pop_front();
        return answer;
      }
      return box.defaultButtonId();
    });
    window->setPasswordRunner([this](CDialogPwd& dialog) {
      loginHints.push_back(dialog.hintText());
      if (passwords.empty()) {
        return static_cast<int>(QDialog::Rejected);
      }
      // Typed, so that the field's own rules apply to what the dealer enters.
      dialog.edit()->clear();
      QTest::keyClicks(dialog.edit(), passwords.front());
      passwords.pop_front();
      return static_cast<int>(QDialog::Accepted);
    });
    controller = std::make_unique<MainController>(manager, task, config, *window);
    window->setController(controller.get());
    controller->setBackupFolder(folder_.path() / "backup");
    controller->setJournalFolder(journalFolder(folder_.path()));
    controller->initialize();
    window->show();
  }

  // The error log's lines written since the last call, without their time stamps.
  std::vector<std::string> newLogLines() {
    std::ifstream in(errorLog().path());
    std::vector<std::string> lines;
    std::string line;
    std::size_t index = 0;
    while (std::getline(in, line)) {
      if (index++ >= logLinesSeen_) {
        lines.push_back(line.substr(line.find("] ") + 2));
      }
    }
    logLinesSeen_ = index;
    return lines;
  }

  QPushButton* button(Control which) const {
    return qobject_cast<QPushButton*>(window->control(which));
  }

  testing::TempFolder folder_;
  SimRadio radio;
  VirtualClock clock;
  SimCableDriver cable{radio, clock};
  RadioManager manager{cable, clock};
  Task task;
  Config config;
  QtMessagePump pump;
  std::unique_ptr<COstrelFlashToolDlg> window;
  std::unique_ptr<MainController> controller;
  std::vector<Shown> shown;
  std::deque<int> answers;
  std::deque<QString> passwords;
  QStringList loginHints;
  std::size_t logLinesSeen_ = 0;
};

TEST_F(MainWindowTest, MenusAndTheirStatusBarHelp) {
  openWindow();
  const QList<QAction*> top = window->menuBar()->actions();
  ASSERT_EQ(top.size(), 3);
  EXPECT_EQ(top[0]->text(), QStringLiteral("&File"));
  EXPECT_EQ(top[1]->text(), QStringLiteral("&Setting"));
  EXPECT_EQ(top[2]->text(), QStringLiteral("&Help"));

  struct Item {
    int id;
    QString text;
    QString help;
  };
  const Item items[] = {
      {COstrelFlashToolDlg::kExitId, "E&xit", "Quit the application"},
      {COstrelFlashToolDlg::kDealerLoginId, "&Dealer Login", "Dealer login"},
      {COstrelFlashToolDlg::kLeaveTestModeId, "&Leave Test Mode",
       "Leave test mode: updates ask first and show their results"},
      {COstrelFlashToolDlg::kHelpContentsId, "&Content and Index...", "Display help"},
      {COstrelFlashToolDlg::kAboutId, "&About Orvik Update Tool",
       "Display Program Information, version number and copyright"},
  };
  for (const Item& item : items) {
    SCOPED_TRACE(item.text.toStdString());
    QAction* action = window->menuAction(item.id);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), item.text);
    // Highlighting the item puts its prompt into the status bar's first part.
    action->showStatusText(window->menuBar());  // as the open menu does
    EXPECT_EQ(window->progressStatusBar()->helpText(), item.help);
  }
  EXPECT_EQ(window->menuAction(COstrelFlashToolDlg::kExitId)->shortcut(),
            QKeySequence(Qt::ALT | Qt::Key_F4));
  EXPECT_EQ(window->menuAction(COstrelFlashToolDlg::kHelpContentsId)->shortcut(),
            QKeySequence(Qt::Key_F1));
  // Leaving the menu brings back the general hint.
  QStatusTipEvent leave{QString()};
  QCoreApplication::sendEvent(window.get(), &leave);
  EXPECT_EQ(window->progressStatusBar()->helpText(), QStringLiteral("For help, press F1"));

  // The package lists no languages, so there is no Language submenu.
  EXPECT_EQ(window->languageMenu(), nullptr);
  EXPECT_EQ(window->settingMenu()->actions().size(), 2);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Orvik Update Tool"));
  const QStringList labels = {"Radio Type:",       "Regional Code:",    "Model:",
                              "Serial Number:",    "Firmware Version:", "Keypad Version:",
                              "Codeplug Version:", "Unit Private ID"};
  for (int i = 0; i < labels.size(); ++i) {
    EXPECT_EQ(window->panelLabel(i)->text(), labels[i]);
    EXPECT_EQ(window->panelField(i)->text(), QStringLiteral("N/A"));
  }
}

TEST_F(MainWindowTest, LanguagesAreListedCheckedAndChosen) {
  config.languages = {"de", "FR_CA", "ja"};
  config.currentLanguage = "fr_ca";
  openWindow();
  QMenu* languages = window->languageMenu();
  ASSERT_NE(languages, nullptr);
  EXPECT_EQ(languages->title(), QStringLiteral("&Language"));
  const QList<QAction*> items = languages->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), QStringLiteral("Deutsch(&D)"));
  EXPECT_EQ(items[1]->text(), QStringLiteral("Français Canadien(&C)"));
  EXPECT_EQ(items[2]->text(), QStringLiteral("ja"));
  EXPECT_TRUE(items[1]->isChecked());
  EXPECT_FALSE(items[0]->isChecked());

  // A code the tool does not know is listed but does nothing.
  items[2]->trigger();
  EXPECT_TRUE(shown.empty());

  items[0]->trigger();
  EXPECT_TRUE(items[0]->isChecked());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text,
            QStringLiteral("You have to restart the tool for thsi change to take effect."));
  Config reloaded;
  ASSERT_TRUE(CreateXmlDocument(reloaded.xmlDocument));
  ASSERT_TRUE(reloaded.LoadConfig(configPath(), setupPath()));
  EXPECT_EQ(reloaded.currentLanguage, "de");
}

// F1 opens the compiled help file when the desktop has a viewer for it, else the HTML manual in
// the browser; whatever cannot be opened, by the opener's own exit status, says so.
TEST_F(MainWindowTest, HelpOpensTheManualOrSaysWhyNot) {
  struct Case {
    const char* name;
    std::string language;
    std::vector<std::string> files;  // in lang/
    // The scripted openers' answers, in the order they run: exit status and output.
    std::vector<std::pair<int, QString>> answers;
    QStringList expectedRuns;  // program and arguments, with lang/ as "L/"
    bool unavailable;
  };
  const QString mime = QStringLiteral("xdg-mime query default application/vnd.ms-htmlhelp");
  const std::vector<Case> cases = {
      {"no help installed", "", {}, {}, {}, true},
      {"the HTML manual in the browser",
       "",
       {"en_us.html"},
       {{0, ""}},
       {"xdg-open L/en_us.html"},
       false},
      {"the browser fails", "", {"en_us.html"}, {{4, ""}}, {"xdg-open L/en_us.html"}, true},
      {"no opener on the machine", "", {"en_us.html"}, {{-1, ""}}, {"xdg-open L/en_us.html"}, true},
      {"the compiled file with its viewer",
       "",
       {"en_us.chm", "en_us.html"},
       {{0, "xchm.desktop\n"}, {0, ""}},
       {mime, "xdg-open L/en_us.chm"},
       false},
      {"the compiled file without a viewer",
       "",
       {"en_us.chm", "en_us.html"},
       {{0, "\n"}, {0, ""}},
       {mime, "xdg-open L/en_us.html"},
       false},
      {"the viewer fails, the manual opens",
       "",
       {"en_us.chm", "en_us.html"},
       {{0, "xchm.desktop\n"}, {2, ""}, {0, ""}},
       {mime, "xdg-open L/en_us.chm", "xdg-open L/en_us.html"},
       false},
      {"the viewer fails and there is no manual",
       "",
       {"en_us.chm"},
       {{0, "xchm.desktop\n"}, {2, ""}},
       {mime, "xdg-open L/en_us.chm"},
       true},
      {"the chosen language's manual",
       "fr_ca",
       {"fr_ca.html", "en_us.html"},
       {{0, ""}},
       {"xdg-open L/fr_ca.html"},
       false},
      {"a language code that names another folder", "../en_us", {"en_us.html"}, {}, {}, true},
  };
  openWindow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path base = folder_.path() / "tool";
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base / "lang");
    for (const std::string& file : c.files) {
      std::ofstream(base / "lang" / file) << "help";
    }
    window->setBaseFolder(base);
    config.currentLanguage = c.language;
    const QString lang = QString::fromStdString((base / "lang").string()) + QLatin1Char('/');
    QStringList runs;
    std::deque<std::pair<int, QString>> answers(c.answers.begin(), c.answers.end());
    window->setHelpLauncher(
        [&](const QString& program, const QStringList& arguments, ProgramDone done) {
          runs << (QStringList{program} + arguments).join(QLatin1Char(' ')).replace(lang, "L/");
          ASSERT_FALSE(answers.empty());
          const auto [status, output] = answers.front();
          answers.pop_front();
          done(status, output);
        });
    shown.clear();
    newLogLines();
    window->menuAction(COstrelFlashToolDlg::kHelpContentsId)->trigger();
    EXPECT_EQ(runs, c.expectedRuns);
    EXPECT_TRUE(answers.empty());
    if (c.unavailable) {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].text, QStringLiteral("The help files are unavailable."));
      EXPECT_EQ(shown[0].icon, MessageIcon::Asterisk);
      EXPECT_EQ(newLogLines(), std::vector<std::string>{"Failed to load help file."});
    } else {
      EXPECT_TRUE(shown.empty());
      EXPECT_TRUE(newLogLines().empty());
    }
  }
}

// The window's launcher reports the opener's exit status, and -1 for one that is not there.
TEST(ProcessLauncherTest, ReportsTheExitStatusAndOutput) {
  QObject owner;
  const ProgramLauncher launch = processLauncher(&owner);
  struct Case {
    QString program;
    QStringList arguments;
    int status;
    QString output;
  };
  const Case cases[] = {
      {"sh", {"-c", "echo viewer.desktop"}, 0, "viewer.desktop\n"},
      {"sh", {"-c", "exit 4"}, 4, ""},
      {"/nonexistent/opener", {}, -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program.toStdString());
    std::optional<std::pair<int, QString>> result;
    launch(c.program, c.arguments, [&](int status, const QString& output) {
      EXPECT_FALSE(result.has_value()) << "answered twice";
      result.emplace(status, output);
    });
    // The process ends on its own; the loop only waits for its answer to arrive, and a launcher
    // that never answers fails the test instead of hanging it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 60'000))
        << "no answer from the launcher";
    EXPECT_EQ(result->first, c.status);
    EXPECT_EQ(result->second, c.output);
  }
}

// The window is wide enough that the status bar's cable part holds either text whole, also in
// a larger font.
TEST_F(MainWindowTest, TheStatusBarShowsTheCableTextWhole) {
  openWindow();
  for (const int points : {0, 15}) {
    SCOPED_TRACE(points);
    if (points != 0) {
      QFont larger = window->font();
      larger.setPointSize(points);
      window->setFont(larger);
      window->layoutForDealerMode(false);  // fits the window to its contents again
    }
    CProgressStatusBar* bar = window->progressStatusBar();
    for (const bool connected : {true, false}) {
      window->setCableStatus(connected);
      EXPECT_LE(bar->fontMetrics().horizontalAdvance(bar->cableText()),
                bar->cableTextRect().width())
          << bar->cableText().toStdString() << " in a window " << window->width() << " wide";
    }
  }
}

TEST_F(MainWindowTest, TheSerialNumberRowAppearsAfterTheDealerLogin) {
  openWindow();
  QGroupBox* row = window->serialGroup();
  EXPECT_FALSE(row->isVisible());
  const int plainHeight = window->height();

  // A wrong password first: the dialog comes again with the warning.
  passwords = {QStringLiteral("1111"), QString::fromLatin1(kDemoDealerPassword)};
  QAction* login = window->menuAction(COstrelFlashToolDlg::kDealerLoginId);
  login->trigger();
  ASSERT_EQ(loginHints.size(), 2);
  EXPECT_EQ(loginHints[0], QStringLiteral("Specify at most 15 numbers for password"));
  EXPECT_EQ(loginHints[1], QStringLiteral("The password is not correct. Please check it!"));

  EXPECT_TRUE(controller->dealerMode());
  EXPECT_TRUE(row->isVisible());
  EXPECT_GT(window->height(), plainHeight + row->height() / 2);
  EXPECT_FALSE(login->isEnabled());
  EXPECT_EQ(window->serialEdit()->maxLength(), 11);

  // With a cable the row's controls work.
  controller->onCableCount(1);
  EXPECT_TRUE(window->serialEdit()->isEnabled());
  EXPECT_TRUE(button(Control::UpdateSerialNumber)->isEnabled());
}

// A console's ENTER puts the window in test mode: it says so above the panel, and the Setting
// menu offers the way out, which needs no console.
TEST_F(MainWindowTest, TestModeIsShownAndTheMenuLeavesIt) {
  struct AnyConsole final : ConsoleChannel {
    bool isConsole(WParam) override { return true; }
    bool post(WParam, ConsoleMessage, WParam, LParam) override { return true; }
  } console;
  openWindow();
  controller->setConsoleChannel(&console);
  QAction* leave = window->menuAction(COstrelFlashToolDlg::kLeaveTestModeId);
  ASSERT_NE(leave, nullptr);
  EXPECT_FALSE(leave->isVisible());
  EXPECT_FALSE(window->testModeBanner()->isVisible());

  // The user agrees to the test mode question.
  QTimer agree;
  QObject::connect(&agree, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      box->button(QMessageBox::Yes)->click();
    }
  });
  agree.start(10);
  EXPECT_EQ(controller->onConsoleMessage(ConsoleMessage::EnterTestMode, 77, kConsoleMagic), 1);
  agree.stop();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Orvik Update Tool [Test mode]"));
  EXPECT_TRUE(window->testModeBanner()->isVisible());
  EXPECT_EQ(window->testModeBanner()->text(),
            QStringLiteral("Test mode: a console program drives this tool. Updates run without "
                           "any question, downgrades included, and their results go to the "
                           "console. Setting > Leave Test Mode ends it."));
  EXPECT_TRUE(leave->isVisible());

  leave->trigger();
  EXPECT_EQ(controller->testMode(), 0);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Orvik Update Tool"));
  EXPECT_FALSE(window->testModeBanner()->isVisible());
  EXPECT_FALSE(leave->isVisible());
  controller->setConsoleChannel(nullptr);
}

TEST_F(MainWindowTest, TheLoginDialogWarnsUntilThePasswordIsChanged) {
  CDialogPwd dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Login"));
  EXPECT_EQ(dialog.edit()->maxLength(), 15);
  EXPECT_EQ(dialog.edit()->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog.hintRect().top(), dialog.edit()->geometry().bottom() + 1 + 8);
  dialog.setPassword(QStringLiteral("1234"));
  dialog.setErrorFlag(true);
  EXPECT_EQ(dialog.hintColour(), QColor(255, 0, 0));
  dialog.show();
  QTest::keyClicks(dialog.edit(), QStringLiteral("5x6"));
  EXPECT_FALSE(dialog.errorFlag());
  EXPECT_EQ(dialog.password(), QStringLiteral("56"));  // digits only; the selection was replaced
}

TEST_F(MainWindowTest, AWholeUpdateClickedThroughOnTheSimulatedRadio) {
  openWindow();
  CProgressStatusBar* status = window->progressStatusBar();
  EXPECT_FALSE(button(Control::Update)->isEnabled());
  EXPECT_EQ(status->cableText(), QStringLiteral("USB Cable Disconnected"));

  // The cable monitor's count comes from its own thread and reaches the window through the
  // Qt loop.
  const WindowHandle target = controller->window();
  std::thread([target] { postMessage(target, MSG_CABLE_COUNT, 0, 1); }).join();
  QTRY_VERIFY(button(Control::Update)->isEnabled());
  EXPECT_EQ(status->cableText(), QStringLiteral("USB Cable Connected"));
  EXPECT_TRUE(window->timeStampLabel()->isHidden());

  QTest::mouseClick(button(Control::GetRadioInfo), Qt::LeftButton);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QStringLiteral("Successfully get radio information."));
  EXPECT_EQ(shown[0].icon, MessageIcon::Asterisk);
  EXPECT_EQ(window->panelField(0)->text(), QStringLiteral("LA26 Series"));
  EXPECT_EQ(window->panelField(4)->text(), QStringLiteral("R01.02.03"));
  EXPECT_FALSE(window->timeStampLabel()->isHidden());

  std::vector<unsigned> progress;
  window->setProgressObserver([&](unsigned position) { progress.push_back(position); });
  QStringList waits;
  window->qtWaitView().setShownHook([&](WaitDialog& dialog) {
    waits << dialog.text();
    EXPECT_TRUE(dialog.isModal());
    // While the radio is programmed nothing else starts and the window does not close.
    EXPECT_FALSE(button(Control::Update)->isEnabled());
    EXPECT_FALSE(window->control(Control::KeepPersonality)->isEnabled());
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
  });
  shown.clear();
  QTest::mouseClick(button(Control::Update), Qt::LeftButton);

  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, 4u);
  EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral("This will program the radio")));
  EXPECT_EQ(shown[1].text, QStringLiteral("Update successful."));
  EXPECT_EQ(waits, QStringList{QStringLiteral("Please wait...")});
  EXPECT_EQ(window->qtWaitView().activeDialog(), nullptr);
  EXPECT_EQ(window->panelField(4)->text(), QStringLiteral("R01.03.00"));
  EXPECT_EQ(window->panelField(6)->text(), QStringLiteral("R01.04.00"));

  // The bar moved through the run and was cleared at its end.
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(
      std::any_of(progress.begin(), progress.end(), [](unsigned p) { return p > 0 && p < 100; }));
  EXPECT_EQ(progress.back(), 0u);
  EXPECT_EQ(status->position(), 0u);
  EXPECT_TRUE(button(Control::Update)->isEnabled());
  EXPECT_EQ(controller->busyOperation(), MainController::kIdle);
  EXPECT_FALSE(manager.radioInfo()->connected);
}

// An update that fails after the radio's personality was erased says where it is saved, and
// File > Restore Personality writes it back once the radio answers again.
TEST_F(MainWindowTest, AFailedUpdatePointsToTheBackupThatTheFileMenuWritesBack) {
  openWindow();
  QAction* restore = window->menuAction(COstrelFlashToolDlg::kRestorePersonalityId);
  ASSERT_NE(restore, nullptr);
  EXPECT_EQ(window->fileMenu()->actions().front(), restore);
  // Like Get Radio Information, it waits for a cable.
  EXPECT_FALSE(restore->isEnabled());
  postMessage(controller->window(), MSG_CABLE_COUNT, 0, 1);
  QTRY_VERIFY(button(Control::Update)->isEnabled());
  EXPECT_TRUE(restore->isEnabled());
  // The owner's data as the demo package's backup rule places it.
  const auto personality = [this] { return radio.memoryBytes(0x820000, 0x1000); };
  const std::vector<std::uint8_t> owners = personality();
  // The first write of the personality back is never answered.
  radio.setFaultPlan(FaultPlan().add(RequestKind::MemWrite, 1, FaultKind::Silence, 5));
  QTest::mouseClick(button(Control::Update), Qt::LeftButton);
  // One box for the failure, which also names the file.
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_TRUE(shown[1].text.startsWith(QStringLiteral("Update failed.\n")))
      << shown[1].text.toStdString();
  const std::filesystem::path backup = controller->programCommand().backupFile();
  ASSERT_TRUE(std::filesystem::exists(backup));
  EXPECT_TRUE(shown[1].text.contains(QString::fromStdString(backup.string())));
  EXPECT_EQ(shown[1].icon, MessageIcon::Hand);
  ASSERT_NE(personality(), owners);

  radio.setFaultPlan({});
  QString offeredFolder;
  window->setFileChooser([&](const QString& folder) {
    offeredFolder = folder;
    return QString::fromStdString(backup.string());
  });

  // Saying No to the question writes nothing.
  shown.clear();
  answers = {kAnswerNo};
  restore->trigger();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, 4u);
  EXPECT_EQ(offeredFolder, QString::fromStdString((folder_.path() / "backup").string()));
  EXPECT_NE(personality(), owners);

  shown.clear();
  answers = {kAnswerYes};
  restore->trigger();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].text, QStringLiteral("The radio's personality was restored."));
  EXPECT_EQ(personality(), owners);
  EXPECT_EQ(controller->busyOperation(), MainController::kIdle);
}

// The tool ended in the middle of an update (its worker stops at the point); the next click on
// Update asks to complete it and leaves the radio as a whole update does.
class InterruptedUpdateWindowTest : public MainWindowTest,
                                    public ::testing::WithParamInterface<testing::StopPoint> {};

TEST_P(InterruptedUpdateWindowTest, TheUpdateButtonCompletesIt) {
  struct ToolEnded {};
  const std::vector<std::vector<std::uint8_t>> contacts = demoContacts(6);
  radio.setContacts(contacts);
  const std::vector<std::uint8_t> dyn = radio.memoryBytes(0x820000, 0x1000);
  openWindow();
  postMessage(controller->window(), MSG_CABLE_COUNT, 0, 1);
  QTRY_VERIFY(button(Control::Update)->isEnabled());

  int seen = 0;
  radio.setRequestObserver([&](const LoggedRequest& request, std::optional<FaultKind>) {
    if (GetParam().reached(request, seen)) {
      throw ToolEnded{};
    }
  });
  QTest::mouseClick(button(Control::Update), Qt::LeftButton);
  radio.setRequestObserver(nullptr);
  ASSERT_EQ(seen, GetParam().occurrence);

  shown.clear();
  QTest::mouseClick(button(Control::Update), Qt::LeftButton);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, 4u);
  EXPECT_TRUE(
      shown[0].text.startsWith(QStringLiteral("The last update of this radio was interrupted")))
      << shown[0].text.toStdString();
  EXPECT_EQ(shown[1].text, QStringLiteral("Update successful."));
  EXPECT_EQ(window->panelField(4)->text(), QStringLiteral("R01.03.00"));
  EXPECT_EQ(window->panelField(6)->text(), QStringLiteral("R01.04.00"));
  EXPECT_EQ(radio.memoryBytes(0x820000, 0x1000), dyn);
  std::vector<std::vector<std::uint8_t>> restoreOrder;
  for (const std::uint8_t kind : {4, 2, 3, 1}) {
    for (const auto& record : contacts) {
      if (record[7] == kind) {
        restoreOrder.push_back(record);
      }
    }
  }
  EXPECT_EQ(radio.contacts(), restoreOrder);
  EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
  EXPECT_EQ(radio.protectionMode(), 0x0840);
}

INSTANTIATE_TEST_SUITE_P(StopPoints, InterruptedUpdateWindowTest,
                         ::testing::ValuesIn(testing::updateStopPoints()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvik
