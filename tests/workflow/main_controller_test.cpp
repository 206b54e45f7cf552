// Getting the radio's information and the plain update against the simulated radio.
#include <gtest/gtest.h>

#include "tests/workflow/workflow_fixture.h"

namespace orvik {
namespace {

using testing::Bench;
using Shown = testing::RecordingView::Shown;
using Shownlist = std::vector<Shown>;

class MainControllerTest : public testing::ErrorTextTest {};

TEST_F(MainControllerTest, GetRadioInformationFillsThePanel) {
  Bench bench;
  EXPECT_FALSE(bench.view.panel.timeStampVisible);
  bench.controller.onGetRadioInfo();
  EXPECT_EQ(bench.view.messages, (Shownlist{{"Successfully get radio information.", 0x40}}));
  const RadioPanel& panel = bench.view.panel;
  EXPECT_EQ(panel.radioType, "LA26 Series");
  EXPECT_EQ(panel.model, "LA26 Portable");
  EXPECT_EQ(panel.regionalCode, "00");
  EXPECT_EQ(panel.serialNumber, "1234ABC5678");
  EXPECT_EQ(panel.firmwareVersion, "R01.02.03");
  EXPECT_EQ(panel.codeplugVersion, "R01.02.00");
  EXPECT_EQ(panel.keypadVersion, "R01.00.00");
  EXPECT_EQ(panel.privateId, "1234567");
  EXPECT_TRUE(panel.timeStampVisible);
  EXPECT_FALSE(bench.manager.radioInfo()->connected);
  EXPECT_EQ(bench.controller.busyOperation(), 0);
}

// Values the tool does not have show "N/A"; the time stamp shows once a read succeeded.
TEST_F(MainControllerTest, PanelShowsNotAvailableForMissingValues) {
  SimRadioConfig noPrivateId;
  noPrivateId.privateId.fill(0);
  Bench bench({}, noPrivateId);
  const RadioPanel before = bench.view.panel;
  for (const std::string* field :
       {&before.radioType, &before.regionalCode, &before.model, &before.serialNumber,
        &before.firmwareVersion, &before.keypadVersion, &before.codeplugVersion,
        &before.privateId}) {
    EXPECT_EQ(*field, "N/A");
  }
  EXPECT_EQ(before.timeStamp, "[ 00-00 00:00 ]");
  EXPECT_FALSE(before.timeStampVisible);

  bench.controller.setTimeSource([] { return std::time_t{86400 * 45}; });
  bench.controller.onGetRadioInfo();
  EXPECT_EQ(bench.view.panel.privateId, "N/A");
  EXPECT_EQ(bench.view.panel.serialNumber, "1234ABC5678");
  EXPECT_TRUE(bench.view.panel.timeStampVisible);
  EXPECT_TRUE(bench.view.panel.timeStamp.starts_with("[ 02-1")) << bench.view.panel.timeStamp;

  // A later failure keeps what was shown.
  const RadioPanel shown = bench.view.panel;
  bench.cable.setEcho(true);
  bench.controller.onGetRadioInfo();
  EXPECT_EQ(bench.view.panel, shown);
}

// What each action tells when the radio cannot be reached or is not one the package knows;
// the cable is closed afterwards and an update asks nothing.
TEST_F(MainControllerTest, ConnectionFailuresEndEachAction) {
  enum class Action { GetInfo, Update };
  const struct {
    const char* name;
    Action action;
    std::function<void(Bench&)> arrange;
    Shown result;
  } cases[] = {
      {"cable in its other mode, get information",
       Action::GetInfo,
       [](Bench& b) { b.cable.setEcho(true); },
       {"Please toggle the USB cable to DIGITAL (Flash) mode.", kStyleWarning}},
      {"cable in its other mode, update",
       Action::Update,
       [](Bench& b) { b.cable.setEcho(true); },
       {"Please toggle the USB cable to DIGITAL (Flash) mode then click OK.  After clicking OK, "
        "click the \"Update\" button to retry the upgrading process. ",
        kStyleWarning}},
      {"radio unknown to the package, get information",
       Action::GetInfo,
       [](Bench& b) {
         SimRadioConfig other = b.radio.config();
         other.modelNumber[9] = 'X';
         b.radio.setConfig(other);
       },
       {testing::kUnsupportedRadio, kStyleError}},
      {"radio unknown to the package, update",
       Action::Update,
       [](Bench& b) {
         SimRadioConfig other = b.radio.config();
         other.modelNumber[9] = 'X';
         b.radio.setConfig(other);
       },
       {testing::kUnsupportedRadio, kStyleError}},
      {"radio silent, update",
       Action::Update,
       [](Bench& b) {
         b.radio.setFaultPlan(FaultPlan().addEvery(RequestKind::StatusQuery, FaultKind::Silence));
       },
       {testing::kRadioSilent, kStyleError}},
      {"no cable, get information",
       Action::GetInfo,
       [](Bench& b) { b.cable.setDevices({}); },
       {testing::kNotConnected, kStyleError}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    c.arrange(bench);
    if (c.action == Action::GetInfo) {
      bench.controller.onGetRadioInfo();
    } else {
      bench.controller.onUpdate();
    }
    EXPECT_EQ(bench.view.messages, Shownlist{c.result});
    if (c.result.text == testing::kRadioSilent) {
      // What the radio did not answer is in the error log.
      const std::vector<std::string> lines = testing::logLines(bench.logText());
      ASSERT_GE(lines.size(), 2u) << bench.logText();
      EXPECT_EQ(lines[0], "Connect radio failed, this's caused by:");
      EXPECT_TRUE(lines[1].starts_with("Error:")) << lines[1];
    }
    EXPECT_FALSE(bench.manager.radioInfo()->connected);
    EXPECT_FALSE(bench.cable.isOpen());
    EXPECT_FALSE(bench.controller.infoValid());
    EXPECT_FALSE(bench.view.panel.timeStampVisible);
    EXPECT_EQ(bench.controller.busyOperation(), 0);
    // The controls are back for the next try.
    EXPECT_TRUE(bench.view.controls[Control::Update]);
    EXPECT_TRUE(bench.view.controls[Control::KeepPersonality]);
  }
}

TEST_F(MainControllerTest, UpdateProgramsTheRadioAfterTheQuestion) {
  Bench bench;
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  EXPECT_EQ(
      bench.view.messages,
      (Shownlist{{testing::goAheadQuestion("R01.03.00", "R01.04.00", "R01.00.00"), kStyleQuestion},
                 {testing::kUpdated, kStyleInformation}}));
  // The radio now runs what the package holds, so a second update has nothing to do.
  EXPECT_EQ(bench.view.panel.firmwareVersion, "R01.03.00");
  EXPECT_EQ(bench.view.panel.codeplugVersion, "R01.04.00");
  EXPECT_TRUE(bench.view.panel.timeStampVisible);
  bench.view.messages.clear();
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  ASSERT_EQ(bench.view.messages.size(), 2u);
  EXPECT_EQ(bench.view.messages[1], (Shown{testing::kLatest, kStyleInformation}));
  EXPECT_EQ(bench.view.progress.back(), 0u);
  EXPECT_TRUE(bench.controller.lastOutcome().succeeded());
  EXPECT_FALSE(bench.manager.radioInfo()->connected);
  EXPECT_EQ(bench.logText(), "");
}

TEST_F(MainControllerTest, NoToTheQuestionEndsSilently) {
  Bench bench;
  bench.view.answers = {kAnswerNo};
  bench.controller.onUpdate();
  ASSERT_EQ(bench.view.messages.size(), 1u);
  EXPECT_TRUE(bench.controller.lastOutcome().cancelled);
  EXPECT_FALSE(bench.manager.radioInfo()->connected);
  EXPECT_FALSE(bench.cable.isOpen());
  EXPECT_FALSE(bench.firmwareProgrammed());
  EXPECT_EQ(bench.controller.busyOperation(), 0);
  EXPECT_TRUE(bench.view.controls[Control::Update]);
}

}  // namespace
}  // namespace orvik
