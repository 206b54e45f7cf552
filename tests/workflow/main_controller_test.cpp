// The main window's logic against the simulated radio and the demo package, with a view that
// records what it is told and answers questions from a script.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <sstream>

#include "config/config.h"
#include "errors/error_log.h"
#include "pack/pack_cli.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"
#include "workflow/main_controller.h"

namespace orvik {
namespace {

class RecordingView : public MainView {
 public:
  struct Shown {
    std::string text;
    unsigned style;
  };
  int showMessage(const std::string& text, unsigned style) override {
    messages.push_back({text, style});
    if (style == kStyleQuestion) {
      if (answers.empty()) {
        return kAnswerYes;
      }
      const int answer = answers.front();
      answers.pop_front();
      return answer;
    }
    return kAnswerOk;
  }
  bool confirmTestMode(const std::string&) override { return acceptTestMode; }
  void setBusyCursor(bool) override {}
  void enableControl(Control control, bool enabled) override { enabledControls[control] = enabled; }
  bool controlEnabled(Control control) override { return enabledControls[control]; }
  void focusControl(Control) override {}
  void showPanel(const RadioPanel& shown) override { panel = shown; }
  std::string typedSerialNumber() override { return typedSerial; }
  void selectSerialNumber() override {}
  bool keepPersonality() override { return keep; }
  void setKeepPersonality(bool checked) override { keep = checked; }
  void setCableStatus(bool connected) override { cableConnected = connected; }
  void setProgress(unsigned position) override { progress.push_back(position); }
  void setStatusText(const std::string&) override {}
  void setTitle(const std::string& text) override { title = text; }
  void flashWindow() override {}
  void layoutForDealerMode(bool dealer) override { dealerLayout = dealer; }
  void enableDealerLogin(bool enabled) override { dealerLoginEnabled = enabled; }
  std::optional<std::string> askPassword(bool) override {
    if (passwords.empty()) {
      return std::nullopt;
    }
    std::string typed = passwords.front();
    passwords.pop_front();
    return typed;
  }
  WaitView& waitView() override { return wait; }

  std::vector<Shown> messages;
  std::deque<int> answers;
  std::deque<std::string> passwords;
  std::map<Control, bool> enabledControls;
  RadioPanel panel;
  std::vector<unsigned> progress;
  std::string typedSerial;
  std::string title;
  bool keep = true;
  bool acceptTestMode = true;
  bool cableConnected = false;
  bool dealerLayout = false;
  bool dealerLoginEnabled = false;
  QueueWaitView wait;
};

class MainControllerTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    std::ostringstream out, err;
    ASSERT_EQ(runPack({"demo", (folder_.path() / "data").string()}, out, err), kPackOk)
        << err.str();
    errorLog().setLogDirectory(folder_.path().string());
    ASSERT_TRUE(CreateXmlDocument(config.xmlDocument));
    ASSERT_TRUE(
        config.LoadConfig((folder_.path() / "data" / "config.xml").string(),
                          (folder_.path() / "demo-machine" / "data" / "setup.dat").string()))
        << joinedErrorText();
    task.create();
    controller.setBackupFolder(folder_.path() / "backup");
    controller.initialize();
    controller.onCableCount(1);
  }

  std::string logText() const {
    std::ifstream in(errorLog().path());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  testing::TempFolder folder_;
  SimRadio radio;
  VirtualClock clock;
  SimCableDriver cable{radio, clock};
  RadioManager manager{cable, clock};
  Task task;
  Config config;
  RecordingView view;
  MainController controller{manager, task, config, view};
};

TEST_F(MainControllerTest, GetRadioInformationFillsThePanel) {
  controller.onGetRadioInfo();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "Successfully get radio information.");
  EXPECT_EQ(view.panel.radioType, "LA26 Series");
  EXPECT_EQ(view.panel.model, "LA26 Portable");
  EXPECT_EQ(view.panel.regionalCode, "00");
  EXPECT_EQ(view.panel.serialNumber, "1234ABC5678");
  EXPECT_EQ(view.panel.firmwareVersion, "R01.02.03");
  EXPECT_EQ(view.panel.privateId, "1234567");
  EXPECT_TRUE(view.panel.timeStampVisible);
  EXPECT_FALSE(manager.radioInfo()->connected);
  EXPECT_EQ(controller.busyOperation(), 0);
}

TEST_F(MainControllerTest, UpdateProgramsTheRadioAfterTheQuestion) {
  controller.onUpdate();
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[0].style, kStyleQuestion);
  EXPECT_NE(view.messages[0].text.find("Firmware Version: R01.03.00, Codeplug Version: R01.04.00, "
                                       "Keypad Firmware Version: R01.00.00"),
            std::string::npos);
  EXPECT_EQ(view.messages[1].text, "Update successful.");
  // The radio now runs what the package holds, so a second update has nothing to do.
  EXPECT_EQ(view.panel.firmwareVersion, "R01.03.00");
  EXPECT_EQ(view.panel.codeplugVersion, "R01.04.00");
  view.messages.clear();
  controller.onUpdate();
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1].text, "Radio version is the latest. No need to update.");
  EXPECT_EQ(view.messages[1].style, kStyleInformation);
  EXPECT_EQ(view.progress.back(), 0u);
  EXPECT_TRUE(controller.lastOutcome().succeeded());
  EXPECT_FALSE(manager.radioInfo()->connected);
}

TEST_F(MainControllerTest, NoToTheQuestionEndsSilently) {
  view.answers = {kAnswerNo};
  controller.onUpdate();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_TRUE(controller.lastOutcome().cancelled);
  EXPECT_FALSE(manager.radioInfo()->connected);
}

TEST_F(MainControllerTest, DealerLoginAndSerialNumber) {
  EXPECT_FALSE(controller.dealerMode());
  view.passwords = {"1111", "demo1234"};
  controller.onDealerLogin();
  EXPECT_TRUE(controller.dealerMode());
  EXPECT_FALSE(view.dealerLoginEnabled);
  EXPECT_TRUE(view.dealerLayout);

  struct Case {
    std::string typed;
    std::string message;
  };
  const Case cases[] = {
      {"123ABIE5678", "The serial number is incorrect."},
      {"1234ABC5678", "The serial number is identical to the radio"},
      {"123ABCD5678", "Update serial number successful."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    view.messages.clear();
    view.typedSerial = c.typed;
    controller.onUpdateSerialNumber();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, c.message);
  }
  EXPECT_EQ(view.panel.serialNumber, "123ABCD5678");
}

}  // namespace
}  // namespace orvik
