// The update's version rules: which versions the tool takes from its package, what it asks,
// what it programs and what it says, against radios of chosen versions.
#include <gtest/gtest.h>

#include "tests/workflow/workflow_fixture.h"

namespace orvik {
namespace {

using testing::Bench;
using testing::PackageSpec;
using testing::radioWith;
using Shown = testing::RecordingView::Shown;
using Question = testing::Question;
using Questions = std::vector<Question>;
using Lines = std::vector<std::string>;

enum class Programmed { Nothing, Codeplug, FirmwareAndCodeplug };

PackageSpec tool(const char* firmware,
                 std::vector<std::string> codeplug = {"R01.04.00", "R01.03.00"},
                 const char* keypad = "R01.00.00") {
  PackageSpec package;
  package.firmware = firmware;
  package.codeplugVersions = std::move(codeplug);
  package.keypad = keypad;
  return package;
}

Programmed programmed(const Bench& bench) {
  if (bench.firmwareProgrammed()) {
    return Programmed::FirmwareAndCodeplug;
  }
  return bench.codeplugProgrammed() ? Programmed::Codeplug : Programmed::Nothing;
}

class UpdateRulesTest : public testing::ErrorTextTest {};

// The go-ahead question comes with what the update would do, for a front end that answers by
// a rule (the update station): what is programmed, the versions after, and whether it goes
// back to an older version.
TEST_F(UpdateRulesTest, TheGoAheadQuestionTellsWhatTheUpdateWouldDo) {
  using Programming = UpdatePlan::Programming;
  const struct {
    const char* name;
    PackageSpec package;
    SimRadioConfig radio;
    Programming programming;
    bool downgrade;
    bool keypad;
    const char* firmwareAfter;
    const char* codeplugAfter;
    const char* keypadAfter;
  } cases[] = {
      {"newer firmware", tool("R02.00.00"), radioWith("R01.05.00", "R01.02.00"),
       Programming::FirmwareAndCodeplug, false, false, "R02.00.00", "R01.04.00", "R01.00.00"},
      {"older firmware", tool("R01.00.00"), radioWith("R01.05.00", "R01.02.00"),
       Programming::FirmwareAndCodeplug, true, false, "R01.00.00", "R01.04.00", "R01.00.00"},
      {"same firmware, other codeplug", tool("R01.03.00"), radioWith("R01.03.00", "R01.02.05"),
       Programming::Codeplug, false, false, "R01.03.00", "R01.04.00", "R01.00.00"},
      {"same firmware, older codeplug", tool("R01.03.00"), radioWith("R01.03.00", "R01.06.00"),
       Programming::Codeplug, true, false, "R01.03.00", "R01.04.00", "R01.00.00"},
      {"up to date but the keypad", tool("R01.03.00", {"R01.04.00"}, "R01.01.00"),
       radioWith("R01.03.00", "R01.04.00"), Programming::Nothing, false, true, "R01.03.00",
       "R01.04.00", "R01.01.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench(c.package, c.radio);
    bench.view.answers = {kAnswerNo};
    bench.controller.onUpdate();
    ASSERT_EQ(bench.view.proposals.size(), 1u);
    const UpdateProposal& p = bench.view.proposals[0];
    EXPECT_EQ(p.serial, bench.radioSerial());
    EXPECT_EQ(p.model, "LA26CKN9AR1");
    // No was answered: the radio still runs what it ran before.
    EXPECT_EQ(p.firmwareBefore, bench.radioFirmware());
    EXPECT_EQ(p.codeplugBefore, bench.radioCodeplug());
    EXPECT_EQ(p.programming, c.programming);
    EXPECT_EQ(p.downgrade, c.downgrade);
    EXPECT_EQ(p.keypad, c.keypad);
    EXPECT_EQ(p.firmwareAfter, c.firmwareAfter);
    EXPECT_EQ(p.codeplugAfter, c.codeplugAfter);
    EXPECT_EQ(p.keypadAfter, c.keypadAfter);
    EXPECT_FALSE(p.completesInterrupted);
    EXPECT_EQ(programmed(bench), Programmed::Nothing);
  }
}

TEST_F(UpdateRulesTest, VersionsDecideWhatIsAskedAndProgrammed) {
  constexpr int Yes = kAnswerYes;
  constexpr int No = kAnswerNo;
  const struct {
    const char* name;
    PackageSpec package;
    SimRadioConfig radio;
    std::deque<int> answers;
    Questions questions;
    std::optional<Shown> result;  // none: ended silently
    Programmed programmed;
    const char* firmwareAfter;
    const char* codeplugAfter;
  } cases[] = {
      // Firmware.
      {"newer tool firmware programs without a downgrade question",
       tool("R02.00.00"),
       radioWith("R01.05.00", "R01.02.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kUpdated, 0x40},
       Programmed::FirmwareAndCodeplug,
       "R02.00.00",
       "R01.04.00"},
      {"older tool firmware asks, Yes programs",
       tool("R01.00.00"),
       radioWith("R01.05.00", "R01.02.00"),
       {Yes, Yes},
       {Question::GoAhead, Question::Downgrade},
       Shown{testing::kUpdated, 0x40},
       Programmed::FirmwareAndCodeplug,
       "R01.00.00",
       "R01.04.00"},
      {"older tool firmware asks, No ends silently",
       tool("R01.00.00"),
       radioWith("R01.05.00", "R01.02.00"),
       {Yes, No},
       {Question::GoAhead, Question::Downgrade},
       std::nullopt,
       Programmed::Nothing,
       "R01.05.00",
       "R01.02.00"},
      {"other letter with an older major asks",
       tool("S01.00.00"),
       radioWith("R02.00.00", "R01.02.00"),
       {},
       {Question::GoAhead, Question::Downgrade},
       Shown{testing::kUpdated, 0x40},
       Programmed::FirmwareAndCodeplug,
       "S01.00.00",
       "R01.04.00"},
      {"other letter with the same major does not ask",
       tool("S02.00.00"),
       radioWith("R02.05.00", "R01.02.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kUpdated, 0x40},
       Programmed::FirmwareAndCodeplug,
       "S02.00.00",
       "R01.04.00"},
      {"No to the go-ahead ends silently",
       tool("R01.03.00"),
       radioWith("R01.02.03", "R01.02.00"),
       {No},
       {Question::GoAhead},
       std::nullopt,
       Programmed::Nothing,
       "R01.02.03",
       "R01.02.00"},
      // Same firmware: the codeplug decides.
      {"newer codeplug of the same major: codeplug only",
       tool("R01.03.00"),
       radioWith("R01.03.00", "R01.02.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kUpdated, 0x40},
       Programmed::Codeplug,
       "R01.03.00",
       "R01.04.00"},
      {"older codeplug of the same major asks, Yes programs it",
       tool("R01.03.00"),
       radioWith("R01.03.00", "R01.06.00"),
       {Yes, Yes},
       {Question::GoAhead, Question::Downgrade},
       Shown{testing::kUpdated, 0x40},
       Programmed::Codeplug,
       "R01.03.00",
       "R01.04.00"},
      {"older codeplug of the same major asks, No ends silently",
       tool("R01.03.00"),
       radioWith("R01.03.00", "R01.06.00"),
       {Yes, No},
       {Question::GoAhead, Question::Downgrade},
       std::nullopt,
       Programmed::Nothing,
       "R01.03.00",
       "R01.06.00"},
      {"codeplug of another letter is replaced without a question",
       tool("R01.03.00"),
       radioWith("R01.03.00", "S01.06.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kUpdated, 0x40},
       Programmed::Codeplug,
       "R01.03.00",
       "R01.04.00"},
      {"same codeplug: nothing to do",
       tool("R01.03.00"),
       radioWith("R01.03.00", "R01.04.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kLatest, kStyleInformation},
       Programmed::Nothing,
       "R01.03.00",
       "R01.04.00"},
      {"codeplug majors differ: not compatible",
       tool("R01.03.00", {"R02.02.00"}),
       radioWith("R01.03.00", "R01.02.05"),
       {},
       {Question::GoAhead},
       Shown{testing::kIncompatible, 0x30},
       Programmed::Nothing,
       "R01.03.00",
       "R01.02.05"},
      // Which of the package's codeplug versions serves the radio's family.
      {"an even version serves the odd family too",
       tool("R01.03.00"),
       radioWith("R01.02.03", "R01.03.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kUpdated, 0x40},
       Programmed::FirmwareAndCodeplug,
       "R01.03.00",
       "R01.04.00"},
      {"only odd versions: the last one serves both",
       tool("R01.03.00", {"R01.01.00", "R01.03.00"}),
       radioWith("R01.02.03", "R01.02.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kUpdated, 0x40},
       Programmed::FirmwareAndCodeplug,
       "R01.03.00",
       "R01.03.00"},
      {"the last even version wins over earlier ones",
       tool("R01.03.00", {"R01.02.00", "R01.03.00", "R01.04.00"}),
       radioWith("R01.02.03", "R01.01.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kUpdated, 0x40},
       Programmed::FirmwareAndCodeplug,
       "R01.03.00",
       "R01.04.00"},
      // R01.1.00 sorts between the other two; R01.10.00 after it is never looked at.
      {"a one-digit field ends the list",
       tool("R01.03.00", {"R01.01.00", "R01.1.00", "R01.10.00"}),
       radioWith("R01.02.03", "R01.00.00"),
       {},
       {Question::GoAhead},
       Shown{testing::kUpdated, 0x40},
       Programmed::FirmwareAndCodeplug,
       "R01.03.00",
       "R01.01.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench(c.package, c.radio);
    ASSERT_TRUE(bench.loaded);
    // Without answers of its own, the case answers Yes to each question it expects.
    bench.view.answers = c.answers.empty() ? std::deque<int>(c.questions.size(), Yes) : c.answers;
    bench.controller.onUpdate();
    EXPECT_EQ(testing::questionKinds(bench.view.questions()), c.questions);
    EXPECT_EQ(bench.view.results(),
              c.result ? std::vector<Shown>{*c.result} : std::vector<Shown>{});
    EXPECT_EQ(bench.controller.lastOutcome().cancelled, !c.result);
    EXPECT_EQ(programmed(bench), c.programmed);
    EXPECT_EQ(bench.radioFirmware(), c.firmwareAfter);
    EXPECT_EQ(bench.radioCodeplug(), c.codeplugAfter);
    EXPECT_FALSE(bench.keypadUpdated());
    EXPECT_FALSE(bench.cable.isOpen());
    EXPECT_EQ(bench.controller.busyOperation(), 0);
    EXPECT_EQ(bench.logText(), "");
  }
}

// The go-ahead question shows the versions the tool chose, upper case.
TEST_F(UpdateRulesTest, QuestionShowsTheChosenVersions) {
  Bench bench(tool("r02.01.00", {"r01.01.00", "r01.03.00"}, "k01.02.00"));
  bench.view.answers = {kAnswerNo};
  bench.controller.onUpdate();
  EXPECT_EQ(bench.view.questions(),
            Lines{testing::goAheadQuestion("R02.01.00", "R01.03.00", "K01.02.00")});
}

// Each question is told what the radio has and what it would get: the go-ahead all three
// versions, the downgrade question what would be programmed.
TEST_F(UpdateRulesTest, QuestionsAreToldTheVersionsTheyChange) {
  using Changes = std::vector<VersionChange>;
  const struct {
    const char* name;
    PackageSpec package;
    SimRadioConfig radio;
    std::vector<Changes> told;
  } cases[] = {
      {"an update",
       tool("R01.03.00"),
       radioWith("R01.02.03", "R01.02.00"),
       {{{"Firmware Version", "R01.02.03", "R01.03.00"},
         {"Codeplug Version", "R01.02.00", "R01.04.00"},
         {"Keypad Version", "R01.00.00", "R01.00.00"}}}},
      {"a firmware downgrade",
       tool("R01.00.00"),
       radioWith("R01.05.00", "R01.02.00"),
       {{{"Firmware Version", "R01.05.00", "R01.00.00"},
         {"Codeplug Version", "R01.02.00", "R01.04.00"},
         {"Keypad Version", "R01.00.00", "R01.00.00"}},
        {{"Firmware Version", "R01.05.00", "R01.00.00"},
         {"Codeplug Version", "R01.02.00", "R01.04.00"}}}},
      {"a codeplug downgrade of the old family",
       tool("R01.02.03", {"R01.01.00", "R01.03.00"}),
       radioWith("R01.02.03", "R01.05.00"),
       {{{"Firmware Version", "R01.02.03", "R01.02.03"},
         {"Codeplug Version", "R01.05.00", "R01.03.00"},
         {"Keypad Version", "R01.00.00", "R01.00.00"}},
        {{"Codeplug Version", "R01.05.00", "R01.03.00"}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench(c.package, c.radio);
    bench.view.answers = {kAnswerYes, kAnswerNo};
    bench.controller.onUpdate();
    EXPECT_EQ(bench.view.versionChanges, c.told);
    EXPECT_EQ(bench.view.questions().size(), c.told.size());
  }
}

// A version or file check that fails shows string 112 and leaves its reason in the error log;
// nothing is programmed and the keypad is left alone.
TEST_F(UpdateRulesTest, FailedChecksShowTheFileMessageAndLogTheReason) {
  PackageSpec noFirmware;
  noFirmware.firmware.clear();
  PackageSpec noAddressMap;
  noAddressMap.addressVersions.clear();
  PackageSpec allBroken = tool("R1.03.00", {"R01.0.00"}, "K01");
  SimRadioConfig badFirmware = radioWith("R01.02.03", "R01.02.00");
  badFirmware.firmwareVersion = {'R', 100, 2, 3};  // shown as R100.02.03
  SimRadioConfig badKeypad = radioWith("R01.02.03", "R01.02.00");
  badKeypad.keypadVersion = {'4', 1, 0, 0};
  SimRadioConfig badCodeplug = radioWith("R01.02.03", "R01.02.00");
  badCodeplug.codeplugVersion = {'R', 1, 2, 100};
  SimRadioConfig badFirmwareAndCodeplug = badFirmware;
  badFirmwareAndCodeplug.codeplugVersion = badCodeplug.codeplugVersion;
  // Named rather than "{}" in the table: g++ 12 at -O3 takes the members of a "{}" for
  // uninitialised when the table is destroyed.
  const SimRadioConfig usualRadio;

  const struct {
    const char* name;
    PackageSpec package;
    SimRadioConfig radio;
    Questions questions;
    Lines logged;
    std::string detail;  // below the message; {cfg} stands for the package's configuration file
  } cases[] = {
      {"no codeplug version of the package parses",
       tool("R01.03.00", {"R01.0.00"}),
       usualRadio,
       {},
       {"The tool CP version is invalid."},
       "The tool CP version is invalid. The tool's versions are read from the update package "
       "{cfg}."},
      {"tool firmware version malformed",
       tool("R1.03.00"),
       usualRadio,
       {},
       {"The tool FW version is invalid."},
       "The tool FW version is invalid. The tool's versions are read from the update package "
       "{cfg}."},
      {"tool keypad version malformed",
       tool("R01.03.00", {"R01.04.00"}, "R01.00"),
       usualRadio,
       {},
       {"The tool KP version is invalid."},
       "The tool KP version is invalid. The tool's versions are read from the update package "
       "{cfg}."},
      // Without firmware there is no keypad version either: nothing is asked or run.
      {"package names no firmware",
       noFirmware,
       usualRadio,
       {},
       {"The tool KP version is invalid."},
       "The tool KP version is invalid. The tool's versions are read from the update package "
       "{cfg}."},
      {"each malformed tool version is logged",
       allBroken,
       usualRadio,
       {},
       {"The tool CP version is invalid.", "The tool FW version is invalid.",
        "The tool KP version is invalid."},
       "The tool CP version is invalid. The tool FW version is invalid. The tool KP version is "
       "invalid. The tool's versions are read from the update package {cfg}."},
      {"radio firmware version malformed",
       {},
       badFirmware,
       {Question::GoAhead},
       {"The radio FW version is invalid."},
       "The radio FW version is invalid."},
      {"radio keypad version malformed",
       {},
       badKeypad,
       {Question::GoAhead},
       {"The radio KP version is invalid."},
       "The radio KP version is invalid."},
      {"radio codeplug version malformed",
       {},
       badCodeplug,
       {Question::GoAhead},
       {"The radio CP version is invalid."},
       "The radio CP version is invalid."},
      {"only the first malformed radio version counts",
       {},
       badFirmwareAndCodeplug,
       {Question::GoAhead},
       {"The radio FW version is invalid."},
       "The radio FW version is invalid."},
      // Lower-case versions are upper-cased for the other family, which then has no file.
      {"odd family's file missing",
       tool("R01.03.00", {"r01.04.00"}),
       usualRadio,
       {Question::GoAhead},
       {"Old CP file is lost."},
       "The update package {cfg} lists no codeplug file of version R01.04.00 for the model "
       "LA26CKN9AR1."},
      {"even family's file missing",
       tool("R01.03.00", {"r01.03.00"}),
       usualRadio,
       {Question::GoAhead},
       {"New CP file is lost."},
       "The update package {cfg} lists no codeplug file of version R01.03.00 for the model "
       "LA26CKN9AR1."},
      {"no address map",
       noAddressMap,
       usualRadio,
       {Question::GoAhead},
       {"New ADDR file is lost."},
       "The update package {cfg} lists no address map file for this radio's codeplug."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The keypad differs everywhere, so a check that let the run through would start it.
    SimRadioConfig radio = c.radio;
    radio.keypadVersion[3] = 9;
    Bench bench(c.package, radio);
    ASSERT_TRUE(bench.loaded);
    bench.view.answers = std::deque<int>(c.questions.size(), kAnswerYes);  // those expected
    bench.controller.onUpdate();
    EXPECT_EQ(testing::questionKinds(bench.view.questions()), c.questions);
    std::string detail = c.detail;
    if (const auto at = detail.find("{cfg}"); at != std::string::npos) {
      detail.replace(at, 5, (bench.dataDir() / "config.xml").string());
    }
    EXPECT_EQ(
        bench.view.results(),
        (std::vector<Shown>{{std::string(testing::kFileMissing) + "\n\n" + detail, kStyleError}}))
        << (bench.view.messages.empty() ? "" : bench.view.messages.back().text);
    EXPECT_EQ(testing::logLines(bench.logText()), c.logged);
    EXPECT_EQ(programmed(bench), Programmed::Nothing);
    EXPECT_FALSE(bench.keypadUpdated());
    EXPECT_EQ(bench.radio.count(RequestKind::BootLoad), 0);
    EXPECT_FALSE(bench.cable.isOpen());
  }
}

// A differing keypad version runs the boot-loader before anything is programmed; when there is
// nothing else to program, its result is the update's.
// The downgrade question comes after the keypad update: a No then still leaves a changed
// radio, which the front ends must not call unchanged.
TEST_F(UpdateRulesTest, ADowngradeDeclinedAfterTheKeypadUpdateSaysSo) {
  for (const bool keypadDiffers : {true, false}) {
    SCOPED_TRACE(keypadDiffers ? "keypad updated" : "keypad the same");
    Bench bench(tool("R01.00.00", {"R01.04.00"}, keypadDiffers ? "R01.01.00" : "R01.00.00"),
                radioWith("R01.05.00", "R01.02.00"));
    bench.view.answers = {kAnswerYes, kAnswerNo};
    bench.controller.onUpdate();
    EXPECT_TRUE(bench.controller.lastOutcome().cancelled);
    EXPECT_EQ(bench.keypadUpdated(), keypadDiffers);
    EXPECT_EQ(bench.controller.keypadUpdatedBeforeCancel(), keypadDiffers);
    EXPECT_FALSE(bench.firmwareProgrammed());
  }
}

TEST_F(UpdateRulesTest, KeypadUpdateRunsWhenItsVersionDiffers) {
  const struct {
    const char* name;
    PackageSpec package;
    SimRadioConfig radio;
    int exitCode;
    Shown result;
    Programmed programmed;
    const char* keypadAfter;
  } cases[] = {
      {"before a firmware update",
       tool("R01.03.00", {"R01.04.00"}, "R01.01.00"),
       radioWith("R01.02.03", "R01.02.00"),
       2,
       {testing::kUpdated, kStyleInformation},
       Programmed::FirmwareAndCodeplug,
       "R01.01.00"},
      {"only the keypad differs",
       tool("R01.03.00", {"R01.04.00"}, "R01.01.00"),
       radioWith("R01.03.00", "R01.04.00"),
       2,
       {testing::kUpdated, kStyleInformation},
       Programmed::Nothing,
       "R01.01.00"},
      {"only the keypad differs and the boot-loader fails",
       tool("R01.03.00", {"R01.04.00"}, "R01.01.00"),
       radioWith("R01.03.00", "R01.04.00"),
       0,
       {testing::kKeypadFailed, kStyleError},
       Programmed::Nothing,
       "R01.00.00"},
      {"boot-loader fails before a firmware update",
       tool("R01.03.00", {"R01.04.00"}, "R01.01.00"),
       radioWith("R01.02.03", "R01.02.00"),
       0,
       {testing::kKeypadFailed, kStyleError},
       Programmed::Nothing,
       "R01.00.00"},
      {"keypad updated, codeplug majors differ",
       tool("R01.03.00", {"R02.02.00"}, "R01.01.00"),
       radioWith("R01.03.00", "R01.02.05"),
       2,
       {testing::kUpdated, kStyleInformation},
       Programmed::Nothing,
       "R01.01.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench(c.package, c.radio, c.exitCode);
    ASSERT_TRUE(bench.loaded);
    bench.view.answers = {kAnswerYes};  // the go-ahead
    bench.controller.onUpdate();
    EXPECT_EQ(bench.view.results(), std::vector<Shown>{c.result});
    EXPECT_TRUE(bench.keypadUpdated());
    EXPECT_EQ(bench.radio.count(RequestKind::BootLoad), 1);
    EXPECT_EQ(programmed(bench), c.programmed);
    EXPECT_EQ(bench.radioKeypad(), c.keypadAfter);
    EXPECT_FALSE(bench.cable.isOpen());
    EXPECT_EQ(bench.controller.busyOperation(), 0);
    // The boot-loader got the cable's port; the simulated cable has no device file to name.
    ASSERT_EQ(bench.bootLoader->runs.size(), 1u);
    EXPECT_EQ(bench.bootLoader->runs[0].arguments,
              (std::vector<std::string>{
                  "COM3", (bench.folder.path() / "driver" / "Keypad_Firmware.bin").string()}));
    EXPECT_EQ(bench.bootLoader->runs[0].environment,
              std::vector<std::string>{"ORVIK_CABLE_DEVICE="});
    // Only a programmed keypad lets the radio out of boot-load mode.
    EXPECT_EQ(bench.radio.bootLoadMode(), c.exitCode != 2);
    EXPECT_EQ(bench.radio.keypadProgrammingCount(), c.exitCode == 2 ? 1 : 0);
  }
  // The same keypad version, whatever its case in the package, runs nothing.
  Bench same(tool("R01.03.00", {"R01.04.00"}, "r01.00.00"), radioWith("R01.02.03", "R01.02.00"));
  same.view.answers = {kAnswerYes};  // the go-ahead
  same.controller.onUpdate();
  EXPECT_FALSE(same.keypadUpdated());
  EXPECT_EQ(same.view.results(), (std::vector<Shown>{{testing::kUpdated, kStyleInformation}}));
}

}  // namespace
}  // namespace orvik
