// The update command's run as the main window sees it: the personality kept or not, failures
// with their report in the error log, cables added or pulled.
#include <gtest/gtest.h>

#include <fstream>
#include <new>

#include "tests/workflow/workflow_fixture.h"

namespace orvik {
namespace {

using testing::Bench;
using Shown = testing::RecordingView::Shown;
using Shownlist = std::vector<Shown>;

constexpr const char* kHardResetFailed = "Error:failed to Hard reset radio (0x01b).";

std::string reportHead(int restore) {
  return "Update radio failed (Model:LA26CKN9AR1,SN:1234ABC5678,Firmware:R01.02.03,"
         "Codeplug:R01.02.00,Restore:" +
         std::to_string(restore) + "), this's caused by:";
}

void damageFirmware(Bench& bench) {
  std::ofstream(bench.firmwareContainer(), std::ios::binary | std::ios::trunc) << "not a package";
}

void noHardReset(Bench& bench) {
  bench.radio.setFaultPlan(FaultPlan().add(RequestKind::Reset, 1, FaultKind::Silence, 100));
}

// The update command throws in the middle of its work, with the radio in its FLASH test mode.
void commandThrows(Bench& bench) {
  bench.radio.setRequestObserver([](const LoggedRequest& request, std::optional<FaultKind>) {
    if (request.kind == RequestKind::EraseFlash) {
      throw std::bad_alloc();
    }
  });
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The results with the note of an unfinished update taken off their last line, which must
// be there when expected and only then.
Shownlist withoutUnfinishedNote(Shownlist results, bool expected) {
  constexpr const char* kNote = "\nThe update of this radio is not finished (it stopped while ";
  for (Shown& shown : results) {
    const std::size_t at = shown.text.find(kNote);
    EXPECT_EQ(at != std::string::npos, expected) << shown.text;
    if (at != std::string::npos) {
      shown.text.resize(at);
    }
  }
  return results;
}

class UpdateRunTest : public testing::ErrorTextTest {};

TEST_F(UpdateRunTest, FailedCommandIsReportedInTheErrorLog) {
  const struct {
    const char* name;
    bool keep;
    void (*arrange)(Bench&);
    Shown result;
    const char* cause;  // a line of the report; none for a run that succeeds
    bool backedUp;
  } cases[] = {
      {"kept personality, radio does not reset",
       true,
       noHardReset,
       {testing::kUpdateFailed, kStyleError},
       kHardResetFailed,
       true},
      {"personality not kept, radio does not reset",
       false,
       noHardReset,
       {testing::kUpdateFailed, kStyleError},
       kHardResetFailed,
       false},
      {"command throws",
       true,
       commandThrows,
       {testing::kUpdateFailed, kStyleError},
       "Error:the command stopped on an unexpected fault [",
       true},
      // The package is checked before anything is read from the radio.
      {"firmware container damaged after start-up",
       true,
       damageFirmware,
       {testing::kFileMissing, kStyleError},
       "Error:failed to parse firmware file [",
       false},
      {"kept personality, success",
       true,
       [](Bench&) {},
       {testing::kUpdated, kStyleInformation},
       nullptr,
       true},
      {"personality not kept, success",
       false,
       [](Bench&) {},
       {testing::kUpdated, kStyleInformation},
       nullptr,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    bench.view.keep = c.keep;
    c.arrange(bench);
    bench.view.answers = {kAnswerYes};  // the go-ahead
    bench.controller.onUpdate();
    // A failure after the first erase also says that the update is unfinished.
    const bool erased = c.cause != nullptr && c.result.text == testing::kUpdateFailed;
    // What a file message names below itself is checked where the file is known.
    Shownlist results = withoutUnfinishedNote(bench.view.results(), erased);
    for (Shown& shown : results) {
      if (shown.text.starts_with(testing::kFileMissing)) {
        shown.text.resize(std::string_view(testing::kFileMissing).size());
      }
    }
    EXPECT_EQ(results, Shownlist{c.result});
    const std::string log = bench.logText();
    if (c.cause != nullptr) {
      const std::vector<std::string> lines = testing::logLines(log);
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines[0], reportHead(c.keep ? 1 : 0));
      EXPECT_TRUE(contains(log, c.cause)) << log;
      // The terminal names the newest failure line of the report as the cause.
      EXPECT_TRUE(bench.controller.lastOutcome().cause.starts_with(c.cause))
          << bench.controller.lastOutcome().cause;
      EXPECT_EQ(bench.controller.lastOutcome().unfinished, erased);
    } else {
      EXPECT_EQ(log, "");
    }
    // Without the check box nothing is backed up, read for it or written back.
    const bool backedUp = !bench.controller.programCommand().backupFile().empty();
    EXPECT_EQ(backedUp, c.backedUp);
    // The failure's one message also says where the personality is kept; a success does not.
    std::vector<std::filesystem::path> told;
    if (backedUp && c.cause != nullptr) {
      told.push_back(bench.controller.programCommand().backupFile());
    }
    EXPECT_EQ(bench.view.backupsShown, told);
    if (!c.keep) {
      EXPECT_EQ(bench.radio.count(RequestKind::ContactRead), 0);
      EXPECT_EQ(bench.radio.count(RequestKind::ContactWrite), 0);
      EXPECT_FALSE(std::filesystem::exists(bench.folder.path() / "backup"));
    }
    if (c.cause != nullptr) {
      // The report took the error text with it.
      EXPECT_TRUE(errorEntries().empty());
    }
    EXPECT_FALSE(bench.cable.isOpen());
  }
}

// A failed keypad update leaves a report in the error log, and its message adds what the
// boot-loader said. A radio that does not come back after its keypad was programmed fails the
// keypad update too, before anything else is written to it.
TEST_F(UpdateRunTest, KeypadFailureIsReportedWithWhatTheBootLoaderSaid) {
  constexpr const char* kNotInstalled =
      "No keypad boot-loader is installed: put the vendor's keypad boot-loader script at "
      "/opt/orvik-update-tool/driver/blhost.sh.";
  const struct {
    const char* name;
    int exitCode;
    std::string output;
    bool startable;
    bool radioComesBack;
    std::string shown;
    std::string cause;
  } cases[] = {
      {"boot-loader not installed", 1, std::string(kNotInstalled) + "\n", true, true,
       std::string(testing::kKeypadFailed) + "\n" + kNotInstalled, "] ended with exit code [1]."},
      {"boot-loader cannot be started", 2, "", false, true, testing::kKeypadFailed,
       "] could not be started."},
      {"radio silent after its keypad update", 2, "", true, false, testing::kKeypadFailed,
       "Error:the radio did not answer after its keypad update."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::PackageSpec package;
    package.keypad = "R01.01.00";
    Bench bench(package, testing::radioWith("R01.02.03", "R01.02.00"), c.exitCode);
    bench.keypadOutput = c.output;
    bench.keypadStartable = c.startable;
    if (!c.radioComesBack) {
      bench.view.wait.after = [&](const std::string& text) {
        if (text == testing::kKeypadWaitText) {
          bench.radio.setFaultPlan(
              FaultPlan().addEvery(RequestKind::StatusQuery, FaultKind::Silence));
        }
      };
    }
    bench.view.answers = {kAnswerYes};  // the go-ahead
    bench.controller.onUpdate();
    EXPECT_EQ(bench.view.results(), (Shownlist{{c.shown, kStyleError}}));
    const std::vector<std::string> lines = testing::logLines(bench.logText());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "Update keypad firmware failed (Model:LA26CKN9AR1,SN:1234ABC5678,Keypad:R01.00.00), "
              "this's caused by:");
    EXPECT_TRUE(contains(bench.logText(), c.cause)) << bench.logText();
    if (!c.output.empty()) {
      EXPECT_TRUE(contains(bench.logText(), kNotInstalled));
    }
    EXPECT_TRUE(errorEntries().empty());
    EXPECT_FALSE(bench.firmwareProgrammed());
    EXPECT_FALSE(bench.cable.isOpen());
  }
}

// An earlier action's failure lines are not taken for the causes of a later failure: the later
// message follows its own cause and the report names only its own lines.
TEST_F(UpdateRunTest, EarlierFailuresDoNotColourALaterReport) {
  Bench bench;
  bench.radio.setFaultPlan(FaultPlan().addEvery(RequestKind::StatusQuery, FaultKind::Silence));
  bench.controller.onGetRadioInfo();
  ASSERT_EQ(bench.view.results(), (Shownlist{{testing::kRadioSilent, kStyleError}}));

  bench.radio.setFaultPlan(FaultPlan());
  damageFirmware(bench);
  bench.view.messages.clear();
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  // The causes are the command's lines, newest first, and nothing of the information read;
  // the message names the damaged file below its common text.
  const std::string firmware = bench.firmwareContainer().string();
  EXPECT_EQ(bench.view.results(),
            (Shownlist{{std::string(testing::kFileMissing) + "\n\nFailed to parse firmware file [" +
                            firmware + "] (0x00d).",
                        kStyleError}}));
  std::vector<std::string> lines = testing::logLines(bench.logText());
  // The failed information read has its own report before.
  ASSERT_EQ(lines.at(0), "Connect radio failed, this's caused by:");
  lines.erase(lines.begin(), std::find(lines.begin(), lines.end(), reportHead(1)));
  ASSERT_GE(lines.size(), 5u);
  lines.resize(5);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       reportHead(1), "Finalize flashing data.",
                       "Error:failed to parse firmware file [" + firmware + "] (0x00d).",
                       "Error:invalid file [" + firmware + "].", ""}));
}

// The status text follows the cable at once; the controls stay as the update left them until
// it has ended.
TEST_F(UpdateRunTest, CablePulledDuringTheUpdate) {
  Bench bench;
  // The radio loses its cable in the middle of erasing.
  bench.radio.setFaultPlan(FaultPlan().add(RequestKind::EraseFlash, 2, FaultKind::Disconnect));
  bool checked = false;
  bench.view.wait.during = [&](const std::string&) {
    bench.controller.onCableCount(0);
    EXPECT_FALSE(bench.view.cableConnected);
    EXPECT_FALSE(bench.view.controls[Control::Update]);
    EXPECT_FALSE(bench.view.controls[Control::KeepPersonality]);
    EXPECT_TRUE(bench.view.controls[Control::GetRadioInfo]);
    checked = true;
  };
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  EXPECT_TRUE(checked);
  EXPECT_EQ(withoutUnfinishedNote(bench.view.results(), true),
            (Shownlist{{testing::kUpdateFailed, kStyleError}}));
  EXPECT_TRUE(contains(bench.logText(), reportHead(1)));
  EXPECT_FALSE(bench.controller.cablePresent());
  EXPECT_FALSE(bench.view.cableConnected);
  EXPECT_FALSE(bench.view.controls[Control::GetRadioInfo]);
  EXPECT_FALSE(bench.view.controls[Control::Update]);
  EXPECT_FALSE(bench.manager.radioInfo()->connected);
}

// With two cables the warning comes back until one is removed, when idle and when an action
// starts; the action then goes on with the one left.
TEST_F(UpdateRunTest, TwoCablesAreRefusedUntilOneIsRemoved) {
  for (const bool idle : {true, false}) {
    SCOPED_TRACE(idle ? "idle" : "at the start of an update");
    Bench bench;
    if (idle) {
      bench.controller.onCableCount(0);
      ASSERT_FALSE(bench.view.controls[Control::Update]);
    }
    bench.cable.setDevices({{}, {kCableDescription, 4}});
    int warnings = 0;
    bench.view.onShow = [&](const Shown& shown) {
      if (shown.text != testing::kTwoCables) {
        return;
      }
      if (++warnings == 1) {
        // A count that arrives while the warning is open only updates the status text.
        bench.controller.onCableCount(0);
        EXPECT_FALSE(bench.view.cableConnected);
        bench.controller.onCableCount(2);
        EXPECT_TRUE(bench.view.cableConnected);
      } else if (warnings == 3) {
        bench.cable.setDevices({{}});
      }
    };
    Shownlist expected(3, Shown{testing::kTwoCables, kStyleWarning});
    if (idle) {
      bench.controller.onCableCount(2);
    } else {
      bench.view.answers = {kAnswerYes};  // the go-ahead
      bench.controller.onUpdate();
      expected.push_back({testing::kUpdated, kStyleInformation});
    }
    EXPECT_EQ(bench.view.results(), expected);
    EXPECT_TRUE(bench.controller.cablePresent());
    EXPECT_TRUE(bench.view.cableConnected);
    EXPECT_TRUE(bench.view.controls[Control::Update]);
    EXPECT_TRUE(bench.view.controls[Control::GetRadioInfo]);
  }
}

// The configuration's DYN rule is bounded by the address map before the radio is read: a
// length that is negative, zero or past the DYN block, or no DYN rule at all, fails the update
// with nothing read and nothing erased.
TEST_F(UpdateRunTest, DynRuleOutsideTheAddressMapFailsBeforeAnythingIsRead) {
  for (const char* length : {"-1", "0", "1001", "7FFFFFFF", ""}) {
    SCOPED_TRACE(std::string("len=") + length);
    testing::PackageSpec package;
    package.dynLength = length;
    Bench bench(package);
    bench.view.answers = {kAnswerYes};  // the go-ahead
    bench.controller.onUpdate();
    EXPECT_EQ(bench.view.results(),
              (Shownlist{{std::string(testing::kFileMissing) +
                              "\n\nThe address or length of block [DYN] configured is not "
                              "matched to the address map (0x008).",
                          kStyleError}}));
    EXPECT_TRUE(contains(bench.logText(), "configured is not matched to the address map (0x008)."))
        << bench.logText();
    EXPECT_EQ(bench.radio.count(RequestKind::MemRead), 0);
    EXPECT_EQ(bench.radio.count(RequestKind::EraseFlash), 0);
    EXPECT_FALSE(bench.firmwareProgrammed());
  }
}

// A personality backup or a journal entry that cannot be written is no fault of the package
// or the radio: the update failed, the message says why, nothing was erased, so nothing is to
// be written back, and the terminal's next step is about the folder. A radio that never
// answered leaves no model in the history.
TEST_F(UpdateRunTest, AFileThatCannotBeWrittenBeforeTheEraseSaysWhyAndErasesNothing) {
  struct Case {
    const char* name;
    std::function<std::filesystem::path(Bench&)> arrange;  // the folder that cannot be used
    // What is said below the common text, about the folder that cannot be used.
    std::function<std::string(const std::filesystem::path&)> said;
  };
  const std::vector<Case> cases = {
      {"backup folder",
       [](Bench& bench) {
         std::ofstream(bench.folder.path() / "taken") << "x";
         bench.controller.setBackupFolder(bench.folder.path() / "taken" / "backup");
         return bench.folder.path() / "taken" / "backup";
       },
       [](const std::filesystem::path& folder) {
         return "\nThe radio's personality could not be saved in " + folder.string() +
                ": Not a directory. Nothing was erased. Make room on the disk, or make that "
                "folder writable, and run the update again.";
       }},
      {"journal folder",
       [](Bench& bench) {
         std::ofstream(bench.folder.path() / "taken") << "x";
         bench.controller.setJournalFolder(bench.folder.path() / "taken" / "journal");
         return bench.folder.path() / "taken" / "journal";
       },
       [](const std::filesystem::path& folder) {
         return "\nThe update could not be recorded in its journal entry: cannot create the "
                "folder " +
                folder.string() +
                " (Not a directory). Nothing was erased. Make room on the disk, or make the "
                "journal folder writable, and run the update again.";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    const std::filesystem::path folder = c.arrange(bench);
    bench.view.answers = {kAnswerYes};  // the go-ahead
    bench.controller.onUpdate();
    EXPECT_EQ(bench.view.results(),
              (Shownlist{{std::string(testing::kUpdateFailed) + c.said(folder), kStyleError}}))
        << bench.view.results().at(0).text;
    EXPECT_EQ(bench.controller.lastOutcome().unwritableFolder, folder);
    EXPECT_TRUE(bench.view.backupsShown.empty());
    EXPECT_EQ(bench.radio.count(RequestKind::EraseFlash), 0);
    EXPECT_FALSE(bench.firmwareProgrammed());
  }
}

TEST_F(UpdateRunTest, ARadioThatNeverAnsweredHasNoModelInTheHistory) {
  Bench bench;
  std::optional<UpdateRecord> recorded;
  bench.controller.setUpdateObserver(
      [&](const UpdateRecord& record, const ActionOutcome&) { recorded = record; });
  bench.controller.onGetRadioInfo();  // a radio that answered: its model stays in the record
  bench.radio.setFaultPlan(FaultPlan().addEvery(RequestKind::StatusQuery, FaultKind::Silence));
  bench.controller.onUpdate();
  ASSERT_TRUE(recorded);
  EXPECT_EQ(bench.controller.lastOutcome().text, testing::kRadioSilent);
  EXPECT_EQ(recorded->model, "");
}

// Writing a saved personality back asks first, as the window always did; No writes nothing.
// Yes writes it back and re-protects the radio as the end of an update does.
TEST_F(UpdateRunTest, RestoreAsksFirstAndReprotectsTheRadio) {
  Bench bench;
  const std::vector<std::uint8_t> owners = bench.radio.memoryBytes(0x820000, 0x1000);
  bench.radio.setFaultPlan(FaultPlan().add(RequestKind::MemWrite, 1, FaultKind::Silence, 5));
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  const std::filesystem::path backup = bench.controller.programCommand().backupFile();
  ASSERT_FALSE(backup.empty());
  ASSERT_NE(bench.radio.memoryBytes(0x820000, 0x1000), owners);
  bench.radio.setFaultPlan({});

  bench.view.messages.clear();
  bench.radio.clearLog();
  bench.view.answers = {kAnswerNo};
  bench.controller.onRestorePersonality(backup);
  ASSERT_EQ(bench.view.questions().size(), 1u);
  EXPECT_TRUE(contains(bench.view.questions()[0], backup.string()));
  EXPECT_TRUE(bench.view.results().empty());
  EXPECT_TRUE(bench.controller.lastOutcome().cancelled);
  EXPECT_TRUE(bench.radio.requests().empty());

  bench.view.messages.clear();
  bench.view.answers = {kAnswerYes};
  bench.controller.onRestorePersonality(backup);
  EXPECT_EQ(bench.view.results(),
            (Shownlist{{"The radio's personality was restored.", kStyleInformation}}));
  EXPECT_EQ(bench.radio.memoryBytes(0x820000, 0x1000), owners);
  EXPECT_EQ(bench.radio.protectionMode(), 0x0840);
  EXPECT_EQ(bench.radio.testMode(), SimTestMode::Normal);
  EXPECT_FALSE(bench.cable.isOpen());
}

}  // namespace
}  // namespace orvik
