// Writing a saved personality back to the radio it came from, after an update lost it.
#include <gtest/gtest.h>

#include <fstream>

#include "commands/cmd_restore_personality.h"
#include "commands/personality_file.h"
#include "tests/commands/program_fixture.h"

namespace orvik::testing {
namespace {

class RestorePersonalityTest : public ProgramTest {
 public:
  // A backup of this radio as an update would have saved it, with its DYN block where given.
  std::filesystem::path saveBackup(const std::string& serial = "1234ABC5678",
                                   PersonalityBackup::Block dyn = {}) {
    PersonalityBackup backup;
    backup.model = "LA26CKN9AR1";
    backup.serial = serial;
    backup.blocks.push_back(
        dyn.bytes.empty() ? PersonalityBackup::Block{DYN, kDynAddress, originalDyn} : dyn);
    for (const Bytes& record : originalContacts) {
      backup.contactLists[record[7] - 1].push_back(record);
    }
    const std::filesystem::path path =
        temp.path() / ("saved-" + serial + "-" + std::to_string(++saved) + ".orvp");
    EXPECT_TRUE(writePersonalityFile(path, backup));
    return path;
  }
  const std::filesystem::path& folder() const { return temp.path(); }
  void disconnect() { manager.disconnect(); }
  void useAddressMap(const std::filesystem::path& path) { restore.setAddressMapFile(path); }

 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    restore.radioInfo = &info;
    restore.notifyWindow = recorder.window();
    restore.setAddressMapFile(demoAddressMapFile());
  }

  void loseThePersonality() {
    radio.setMemoryBytes(kDynAddress, Bytes(kDynSize, 0x00));
    radio.setContacts({});
    radio.clearLog();
  }

  bool runRestore() {
    const bool result = restore.execute();
    currentThreadQueue().processPending();
    return result;
  }

  CmdRestorePersonality restore;
  int saved = 0;
};

TEST_F(RestorePersonalityTest, FailedUpdateLeavesAFileThatBringsThePersonalityBack) {
  radio.setFaultPlan(FaultPlan().add(RequestKind::MemWrite, 1, FaultKind::Silence, 5));
  ASSERT_FALSE(run());
  ASSERT_EQ(dynMemory(), Bytes(kDynSize, 0x00));
  ASSERT_TRUE(radio.contacts().empty());
  ASSERT_FALSE(command.backupFile().empty());

  radio.setFaultPlan({});
  radio.clearLog();
  removeErrors(ErrorCategory::OK);
  restore.setBackupFile(command.backupFile());
  ASSERT_TRUE(runRestore());
  EXPECT_EQ(errorLines(), Lines{});
  EXPECT_EQ(dynMemory(), originalDyn);
  EXPECT_EQ(radio.contacts(), contactsInRestoreOrder());
  // Identity first, then the restore in TOVR test mode, and the end of an update: FLASH test
  // mode, the final protection mode of the radio's layout (1) and a soft reset.
  EXPECT_EQ(requestRuns(radio.requestKinds()),
            (Lines{"status-query x5", "softpot-read", "status-query", "test-mode", "mem-write x19",
                   "contact-write x6", "contact-restore", "test-mode", "protection", "reset"}));
  EXPECT_EQ(radio.requestsOf(RequestKind::TestMode)[1].bytes[2], 8);
  EXPECT_EQ(radio.protectionMode(), 0x0840);
  EXPECT_EQ(radio.requestsOf(RequestKind::Reset)[0].bytes[4], 0);
  EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
  EXPECT_EQ(recorder.messages().back().message, MSG_COMMAND_FINISHED);
  const auto progress = recorder.progress();
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ((std::vector<unsigned>(progress.end() - 2, progress.end())),
            (std::vector<unsigned>{100, 0}));
  // The file is the owner's history: the restore leaves it in place.
  EXPECT_TRUE(std::filesystem::exists(command.backupFile()));
}

// The final protection mode is the one of the layout that the FLASH test mode answer tells.
TEST_F(RestorePersonalityTest, ReprotectsWithTheModeOfTheRadiosLayout) {
  const std::filesystem::path file = saveBackup();
  for (const auto& [layout, mode] : {std::pair<std::uint8_t, std::uint16_t>{0, 0x0440},
                                     std::pair<std::uint8_t, std::uint16_t>{2, 0x1040}}) {
    SimRadioConfig config = radio.config();
    config.flashLayout = layout;
    radio.setConfig(config);
    restore.setBackupFile(file);
    ASSERT_TRUE(runRestore()) << ::testing::PrintToString(errorLines());
    EXPECT_EQ(radio.protectionMode(), mode);
  }
}

struct Refusal {
  const char* name;
  // Prepares the file to restore (and the radio) and returns the file.
  std::function<std::filesystem::path(RestorePersonalityTest&)> arrange;
  Lines lines;  // "{file}" stands for the file's path
};

void PrintTo(const Refusal& r, std::ostream* os) {
  *os << r.name;
}

class RefusalTest : public RestorePersonalityTest, public ::testing::WithParamInterface<Refusal> {};

const std::string kOutsideDyn =
    "6:Error:the address or length of block [DYN] configured is not matched to the address map "
    "(0x008).";

const Refusal kRefusals[] = {
    {"AnotherRadiosFile",
     [](RestorePersonalityTest& t) { return t.saveBackup("9999XYZ0000"); },
     {"9:Error:the backup file [{file}] belongs to another radio [9999XYZ0000].",
      "9:Restore user-infor."}},
    {"DamagedFile",
     [](RestorePersonalityTest& t) {
       const std::filesystem::path path = t.saveBackup();
       std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
       file.seekp(40);
       file.put('\x7F');
       return path;
     },
     {"1:Error:invalid personality backup file [{file}].", "9:Restore user-infor."}},
    {"MissingFile",
     [](RestorePersonalityTest& t) { return t.folder() / "none.orvp"; },
     {"1:Error:failed to read personality backup file [{file}].", "9:Restore user-infor."}},
    {"MissingAddressMap",
     [](RestorePersonalityTest& t) {
       t.useAddressMap(t.folder() / "none.kxk");
       return t.saveBackup();
     },
     {"1:Error:failed to open file [{folder}/none.kxk].",
      "6:Error:failed to parse address file [{folder}/none.kxk] (0x007).",
      "9:Restore user-infor."}},
    // A file whose blocks were changed and digested again must not write into other blocks.
    {"BlockPastTheEndOfTheDynBlock",
     [](RestorePersonalityTest& t) {
       return t.saveBackup("1234ABC5678", {DYN, kDynAddress + 0x100, Bytes(kDynSize, 0x11)});
     },
     {kOutsideDyn, "9:Restore user-infor."}},
    {"BlockBelowTheDynBlock",
     [](RestorePersonalityTest& t) {
       return t.saveBackup("1234ABC5678", {DYN, kDynAddress - 0x10, Bytes(0x20, 0x11)});
     },
     {kOutsideDyn, "9:Restore user-infor."}},
    {"BlockOfAnotherKind",
     [](RestorePersonalityTest& t) {
       return t.saveBackup("1234ABC5678", {CON, kDynAddress, Bytes(0x20, 0x11)});
     },
     {kOutsideDyn, "9:Restore user-infor."}},
    {"BlockThatWrapsTheAddressField",
     // A map whose DYN block reaches past 24 bits: the block fits it, but its addresses would
     // wrap to 0 on the way to the radio.
     [](RestorePersonalityTest& t) {
       writeAddressMapContainer(t.folder() / "high.kxk", "DYN_START ADDRESS = FFF800 BSIZE = 1000");
       t.useAddressMap(t.folder() / "high.kxk");
       return t.saveBackup("1234ABC5678", {DYN, 0xFFFC00, Bytes(0x800, 0x11)});
     },
     {kOutsideDyn, "9:Restore user-infor."}},
    {"NotConnected",
     [](RestorePersonalityTest& t) {
       const auto path = t.saveBackup();
       t.disconnect();
       return path;
     },
     {"3:Error:no port is connected (0x001).", "9:Restore user-infor."}},
};

TEST_P(RefusalTest, WritesNothingToTheRadio) {
  const std::filesystem::path file = GetParam().arrange(*this);
  loseThePersonality();
  removeErrors(ErrorCategory::OK);
  restore.setBackupFile(file);
  EXPECT_FALSE(runRestore());
  Lines expected;
  for (std::string line : GetParam().lines) {
    if (const auto at = line.find("{file}"); at != std::string::npos) {
      line.replace(at, 6, file.string());
    }
    if (const auto at = line.find("{folder}"); at != std::string::npos) {
      line.replace(at, 8, folder().string());
    }
    expected.push_back(line);
  }
  EXPECT_EQ(errorLines(), expected);
  for (const RequestKind kind :
       {RequestKind::TestMode, RequestKind::MemWrite, RequestKind::ContactWrite,
        RequestKind::Protection, RequestKind::Reset}) {
    EXPECT_EQ(radio.count(kind), 0) << requestKindName(kind);
  }
  EXPECT_EQ(recorder.messages().back().message, MSG_COMMAND_FINISHED);
}

INSTANTIATE_TEST_SUITE_P(Refusals, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RestorePersonalityTest, FailedWriteLeavesTheRadioInTestModeWithoutReset) {
  const std::filesystem::path file = saveBackup();
  loseThePersonality();
  radio.setFaultPlan(FaultPlan().add(RequestKind::ContactWrite, 1, FaultKind::Silence, 2));
  restore.setBackupFile(file);
  EXPECT_FALSE(runRestore());
  const Lines lines = errorLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ((Lines(lines.end() - 2, lines.end())),
            (Lines{"9:Error:failed to write contact index [2] (0x021).", "9:Restore user-infor."}));
  // The DYN block went back, the other lists too, but no reset follows a failed restore.
  EXPECT_EQ(dynMemory(), originalDyn);
  EXPECT_EQ(radio.contactRestoreCount(), 1);
  EXPECT_EQ(radio.count(RequestKind::Reset), 0);
}

}  // namespace
}  // namespace orvik::testing
