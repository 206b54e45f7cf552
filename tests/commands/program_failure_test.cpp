// Every failure of the update sequence, raised through the simulated radio's fault plan (or a
// file or setting), as one table: the lines it leaves, the requests that must not follow, the
// fixed waits, and what the radio still holds.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "commands/personality_file.h"
#include "tests/commands/program_fixture.h"

namespace orvik::testing {
namespace {

using std::chrono::milliseconds;
using Waits = std::vector<milliseconds>;

// What the radio holds after the run, from untouched to fully updated.
enum class Holds {
  Untouched,             // old firmware, old default block, personality as it was
  EraseCutAt0x30000,     // 0x10000 to 0x2FFFF erased, the rest of the region untouched
  FirstPieceOnly,        // erased region with one piece at 0x10002
  ImageWithoutHead,      // the image but for its first two bytes
  ImageOnly,             // the whole image, the default block untouched
  DefPartlyErased,       // two DEF units erased, the rest untouched
  DefErased,             // the DEF block erased, nothing programmed into it
  DefProgrammedDynKept,  // image and DEF, the dynamic block not yet erased
  DynErased,             // image and DEF, the dynamic block erased
  BlocksReset,           // the block reset emptied the dynamic block and the contacts
  ContactsPartly,        // DYN back, the first kind-4 list lost, the others written
  Restored,              // DYN and contacts back
};

// Waits of the run: after the firmware erase, before the default block, around the hard
// reset, after the block reset, before the progress goes back to 0.
const Waits kEndOnly{milliseconds(100)};
const Waits kAfterErase{milliseconds(100), milliseconds(100)};
const Waits kAfterDefWait{milliseconds(100), milliseconds(100), milliseconds(100)};
const Waits kResetFailed{milliseconds(100), milliseconds(100), milliseconds(200),
                         milliseconds(100)};
const Waits kAfterReset{milliseconds(100), milliseconds(100), milliseconds(200), milliseconds(1000),
                        milliseconds(100)};
const Waits kAll{milliseconds(100),  milliseconds(100), milliseconds(200),
                 milliseconds(1000), milliseconds(100), milliseconds(100)};

struct Scene {
  SimRadio& radio;
  RadioManager& manager;
  RadioInfo& info;
  CmdProgram& command;
  const std::filesystem::path& temp;
  std::vector<Bytes>& originalContacts;
};

unsigned firmwarePieces() {
  return static_cast<unsigned>((demoImage().size() - 2 + 4095) / 4096);
}

// Both attempts of an operation (memWrite makes five) go unanswered.
std::function<void(Scene&)> silence(RequestKind kind, int occurrence, int count = 2) {
  return [=](Scene& s) {
    s.radio.setFaultPlan(FaultPlan().add(kind, occurrence, FaultKind::Silence, count));
  };
}

struct FailureCase {
  const char* name;
  std::function<void(Scene&)> arrange;
  // The sequence's own lines, in order, the last one ending the error text; "{temp}" stands
  // for the test's folder and a final '*' for any rest of the line.
  Lines lines;
  // The failure point is the last request of this kind (none: the whole run).
  std::optional<RequestKind> failedAt;
  std::vector<RequestKind> mustNotFollow;
  Waits waits;
  Holds holds;
  bool backupSaved;
};

const std::string kFinalize = "9:Finalize flashing data.";
const std::string kRestore = "9:Restore user-infor.";

using K = RequestKind;

const std::string kDynRuleLine =
    "6:Error:the address or length of block [DYN] configured is not matched to the address map "
    "(0x008).";

// The personality list holds one DYN record with this place.
std::function<void(Scene&)> dynRule(std::uint32_t address, std::uint32_t size) {
  return [=](Scene& s) {
    const PersonalityBlock blocks[] = {{DYN, address, size}, {CON, 0x830000, 0x2000}};
    s.command.setPersonalityBlocks(blocks);
  };
}

// The firmware file holds a valid image of the length.
std::function<void(Scene&)> firmware(std::size_t length) {
  return [=](Scene& s) {
    writeFirmwareContainer(s.temp / "firmware.kxk", imageOfLength(length));
    s.command.setFirmwareFile(s.temp / "firmware.kxk");
  };
}

const FailureCase kCases[] = {
    {"NotConnected_0x001",
     [](Scene& s) { s.manager.disconnect(); },
     {"3:Error:no port is connected (0x001).",
      "9:Error:failed to set baud rate to [57600] (0x01a).", kFinalize},
     std::nullopt,
     {K::TestMode, K::MemRead, K::Protection, K::EraseFlash, K::Reset},
     kEndOnly,
     Holds::Untouched,
     false},
    {"FlashTestMode_0x002",
     silence(K::TestMode, 1),
     {"9:Error:failed to put radio in FLASH test mode [8] (0x002).", kFinalize},
     K::TestMode,
     {K::FlashFollowUp, K::MemRead, K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"UnknownFlashLayout_0x003",
     [](Scene& s) {
       SimRadioConfig config = s.radio.config();
       config.flashLayout = 3;
       s.radio.setConfig(config);
     },
     {"9:Error:the flash layout [3] of the radio is not known (0x003).", kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::Protection, K::EraseFlash, K::Reset},
     kEndOnly,
     Holds::Untouched,
     false},
    {"FirstBaudSwitch_0x006_And_0x01a",
     [](Scene& s) {
       // Radio and cable at another rate, and the radio never takes the switch.
       s.radio.setCurrentBaud(19200);
       ASSERT_TRUE(s.info.port().setBaudRate(19200));
       s.radio.setFaultPlan(FaultPlan().addEvery(K::SoftpotWrite, FaultKind::Silence));
     },
     {"9:Error:failed to set baud rate to [57600] (0x006).",
      "9:Error:failed to set baud rate to [57600] (0x01a).", kFinalize},
     K::SoftpotWrite,
     {K::MemRead, K::Protection, K::EraseFlash, K::Reset},
     kEndOnly,
     Holds::Untouched,
     false},
    {"AddressMap_0x007",
     [](Scene& s) { s.command.setAddressMapFile(s.temp / "missing.kxk"); },
     {"6:Error:failed to parse address file [{temp}/missing.kxk] (0x007).", kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection},
     kEndOnly,
     Holds::Untouched,
     false},
    {"DynBlockBelowTheMap_0x008",
     [](Scene& s) {
       const PersonalityBlock blocks[] = {{CON, 0x800000, 0x10}, {DYN, 0x81F000, 0x1000}};
       s.command.setPersonalityBlocks(blocks);
     },
     {"6:Error:the address or length of block [DYN] configured is not matched to the address "
      "map (0x008).",
      kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection},
     kEndOnly,
     Holds::Untouched,
     false},
    {"DynRuleOfLengthZero_0x008",
     dynRule(kDynAddress, 0),
     {kDynRuleLine, kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection},
     kEndOnly,
     Holds::Untouched,
     false},
    {"DynRuleOfNegativeLength_0x008",
     // len="-1" in the configuration.
     dynRule(kDynAddress, 0xFFFFFFFF),
     {kDynRuleLine, kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection},
     kEndOnly,
     Holds::Untouched,
     false},
    {"DynRulePastTheBlock_0x008",
     // len="7FFFFFFF", which would read for hours.
     dynRule(kDynAddress, 0x7FFFFFFF),
     {kDynRuleLine, kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection},
     kEndOnly,
     Holds::Untouched,
     false},
    {"ImagePastTheFirmwareRegion_0x00d",
     firmware(0x70002),
     {"5:Error:the firmware image ends at [524290], past [524288].",
      "6:Error:failed to parse firmware file [{temp}/firmware.kxk] (0x00d).", kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"ImageOverTheDefBlockOfLayout0_0x00d",
     [](Scene& s) {
       SimRadioConfig config = s.radio.config();
       config.flashLayout = 0;
       s.radio.setConfig(config);
       firmware(0x54002)(s);
     },
     {"5:Error:the firmware image ends at [409602], past [409600].",
      "6:Error:failed to parse firmware file [{temp}/firmware.kxk] (0x00d).", kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"FirmwareFile_0x00d",
     [](Scene& s) { s.command.setFirmwareFile(s.temp / "missing.kxk"); },
     {"6:Error:failed to parse firmware file [{temp}/missing.kxk] (0x00d).", kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"CodeplugFile_0x013",
     [](Scene& s) { s.command.setCodeplugFile(s.temp / "missing.kxk"); },
     {"6:Error:failed to parse codeplug file [{temp}/missing.kxk] (0x013).", kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"StreamWithoutDefData_0x013",
     [](Scene& s) {
       // Every record lies in the CON block.
       writeCodeplugContainer(s.temp / "codeplug.kxk", 0x830000, Bytes(64, 0x5A));
       s.command.setCodeplugFile(s.temp / "codeplug.kxk");
     },
     {"4:Error:the codeplug stream has no data for block [DEF] at [8667136].",
      "6:Error:failed to parse codeplug file [{temp}/codeplug.kxk] (0x013).", kFinalize},
     K::FlashFollowUp,
     {K::MemRead, K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"DynRead_0x00a",
     silence(K::MemRead, 3),
     {"9:Error:failed to memRead block [DYN] (0x00a).", kFinalize},
     K::MemRead,
     {K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"DynReadLongerThanAsked_0x00a",
     // Under another opcode the answer's address counts as data: 224 bytes for 220 asked, and
     // so again on the retry.
     [](Scene& s) {
       s.radio.setFaultPlan(FaultPlan().add(K::MemRead, 2, FaultKind::WrongOpcode, 2));
     },
     {"9:Error:failed to memRead block [DYN] (0x00a).", kFinalize},
     K::MemRead,
     {K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"DynReadRefused_0x00a",
     // A two-byte refusal is no piece of the block, and neither is its retry.
     [](Scene& s) { s.radio.setFaultPlan(FaultPlan().add(K::MemRead, 3, FaultKind::Refused, 2)); },
     {"9:Error:failed to memRead block [DYN] (0x00a).", kFinalize},
     K::MemRead,
     {K::ContactRead, K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"ContactWithoutAList_0x00b",
     [](Scene& s) {
       s.originalContacts[2][7] = 5;
       s.radio.setContacts(s.originalContacts);
     },
     {"9:Error:failed to read contact index [3] (0x00b).", kFinalize},
     K::ContactRead,
     {K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"ContactRead_0x00b",
     silence(K::ContactRead, 2),
     {"9:Error:failed to read contact index [2] (0x00b).", kFinalize},
     K::ContactRead,
     {K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"BackupNotSaved",
     [](Scene& s) {
       // The folder cannot be made: a file stands where it would go.
       std::ofstream(s.temp / "taken") << "x";
       s.command.backupFolder = s.temp / "taken" / "backup";
     },
     {"9:Error:failed to write personality backup file [{temp}/taken/backup/1234ABC5678_*",
      "9:Error:failed to save the personality backup [{temp}/taken/backup/1234ABC5678_*",
      kFinalize},
     K::ContactRead,
     {K::Protection, K::EraseFlash},
     kEndOnly,
     Holds::Untouched,
     false},
    {"FirmwareProtection_0x00e",
     silence(K::Protection, 1),
     {"9:Error:failed to enter in protection mode [4096] (0x00e).", kFinalize},
     K::Protection,
     {K::EraseFlash, K::WriteFlash},
     kEndOnly,
     Holds::Untouched,
     true},
    {"FirmwareErase_0x00f",
     silence(K::EraseFlash, 3),
     {"9:Error:failed to erase flash at address [196608] (0x00f).", kFinalize},
     K::EraseFlash,
     {K::WriteFlash, K::Protection, K::Reset},
     kAfterErase,
     Holds::EraseCutAt0x30000,
     true},
    {"FirmwarePiece_0x010",
     silence(K::WriteFlash, 2),
     {"9:Error:failed to program flash at address [69634] (0x010).", kFinalize},
     K::WriteFlash,
     {K::Protection, K::EraseFlash, K::Reset},
     kAfterErase,
     Holds::FirstPieceOnly,
     true},
    {"FirmwareHead_0x011",
     [](Scene& s) { silence(K::WriteFlash, static_cast<int>(firmwarePieces()) + 1)(s); },
     {"9:Error:failed to program flash at address [65536] (0x011).", kFinalize},
     K::WriteFlash,
     {K::Protection, K::EraseFlash, K::Reset},
     kAfterErase,
     Holds::ImageWithoutHead,
     true},
    {"DefaultBlockProtection_0x012",
     silence(K::Protection, 2),
     {"9:Error:failed to enter in protection mode [12288] (0x012).", kFinalize},
     K::Protection,
     {K::EraseFlash, K::WriteFlash, K::Reset},
     kAfterErase,
     Holds::ImageOnly,
     true},
    {"DefaultBlockErase_0x014",
     silence(K::EraseFlash, 7 + 3),
     {"9:Error:failed to erase Default block at address [548864] (0x014).", kFinalize},
     K::EraseFlash,
     {K::WriteFlash, K::Reset},
     kAfterErase,
     Holds::DefPartlyErased,
     true},
    {"DefaultBlockPiece_0x015",
     [](Scene& s) { silence(K::WriteFlash, static_cast<int>(firmwarePieces()) + 2)(s); },
     {"9:Error:failed to program flash at address [540672] (0x015).", kFinalize},
     K::WriteFlash,
     {K::EraseFlash, K::Reset},
     kAfterDefWait,
     Holds::DefErased,
     true},
    {"DynErase_0x016",
     silence(K::EraseFlash, 7 + 16 + 1),
     {"9:Error:failed to erase DYNAMIC block (0x016).", kFinalize},
     K::EraseFlash,
     {K::Reset, K::TestMode, K::MemWrite},
     kAfterDefWait,
     Holds::DefProgrammedDynKept,
     true},
    {"HardReset_0x01b",
     silence(K::Reset, 1),
     {"9:Error:failed to Hard reset radio (0x01b).", kFinalize},
     K::Reset,
     {K::TestMode, K::SoftpotWrite, K::MemWrite},
     kResetFailed,
     Holds::DynErased,
     true},
    {"StatusWord0x0200_0x01c",
     [](Scene& s) {
       SimRadioConfig config = s.radio.config();
       config.resetStatusWord = 0x0200;
       s.radio.setConfig(config);
     },
     {"9:Error:default block is corrupted (0x01c).", kFinalize},
     K::Reset,
     {K::TestMode, K::SoftpotWrite, K::MemWrite},
     kAfterReset,
     Holds::DynErased,
     true},
    {"StatusWord0x0080_0x01c",
     [](Scene& s) {
       SimRadioConfig config = s.radio.config();
       config.resetStatusWord = 0x0080;
       s.radio.setConfig(config);
     },
     {"9:Error:default block is corrupted (0x01c).", kFinalize},
     K::Reset,
     {K::TestMode, K::SoftpotWrite, K::MemWrite},
     kAfterReset,
     Holds::DynErased,
     true},
    {"TovrTestMode_0x01d",
     silence(K::TestMode, 2),
     {"9:Error:failed to put radio in TOVR test mode (0x01d).", kFinalize},
     K::TestMode,
     {K::SoftpotWrite, K::MemWrite, K::ContactWrite},
     kAfterReset,
     Holds::DynErased,
     true},
    {"ResetAllBlocks_0x01e",
     silence(K::SoftpotWrite, 1),
     {"9:Error:failed to reset all blocks (0x01e).", kFinalize},
     K::SoftpotWrite,
     {K::SoftpotWrite, K::MemWrite, K::ContactWrite},
     kAll,
     Holds::DynErased,
     true},
    {"RestoreFactoryBlock_0x01f",
     silence(K::SoftpotWrite, 2),
     {"9:Error:failed to restore factory block (0x01f).", kFinalize},
     K::SoftpotWrite,
     {K::MemWrite, K::ContactWrite, K::Protection},
     kAll,
     Holds::BlocksReset,
     true},
    {"DynWrite_0x020",
     silence(K::MemWrite, 1, 5),
     {"9:Error:failed to memWrite block [DYN] (0x020).", kRestore},
     K::MemWrite,
     {K::ContactWrite, K::ContactRestore, K::Protection},
     kAll,
     Holds::BlocksReset,
     true},
    {"ContactWrite_0x021",
     silence(K::ContactWrite, 1),
     {"9:Error:failed to write contact index [2] (0x021).", kRestore},
     K::ContactWrite,
     {K::TestMode, K::Protection, K::Reset},
     kAll,
     Holds::ContactsPartly,
     true},
    {"MasterResetContacts_0x022",
     silence(K::ContactRestore, 1),
     {"9:Error:failed to restore contact in PerformMasterReset (0x022).", kRestore},
     K::ContactRestore,
     {K::TestMode, K::Protection, K::Reset},
     kAll,
     Holds::Restored,
     true},
    {"ReprotectFlashTestMode_0x029",
     silence(K::TestMode, 3),
     {"9:Error:failed to put radio in FLASH test mode [8] (0x029).", kRestore},
     K::TestMode,
     {K::Protection, K::Reset},
     kAll,
     Holds::Restored,
     true},
    {"FinalProtection_0x02a",
     silence(K::Protection, 3),
     {"9:Error:failed to enter in protection mode [2112] (0x02a).", kRestore},
     K::Protection,
     {K::Reset},
     kAll,
     Holds::Restored,
     true},
    {"SoftReset_0x02c",
     silence(K::Reset, 2),
     {"9:Error:failed to soft reset radio (0x02c).", kRestore},
     K::Reset,
     {},
     kAll,
     Holds::Restored,
     true},
};

class ProgramFailureTest : public ProgramTest, public ::testing::WithParamInterface<FailureCase> {
 protected:
  std::string expand(std::string line) const {
    const std::string marker = "{temp}";
    if (const auto at = line.find(marker); at != std::string::npos) {
      line.replace(at, marker.size(), temp.path().string());
    }
    return line;
  }

  // The expected lines in order, the last of them last; between and before them only the
  // lower layers' own lines (no other update step failed).
  void expectLines(const Lines& expected) const {
    const Lines lines = errorLines();
    std::size_t next = 0;
    for (const std::string& line : lines) {
      if (next < expected.size() && matches(line, expand(expected[next]))) {
        ++next;
        continue;
      }
      EXPECT_FALSE(line.starts_with("9:")) << line;
    }
    EXPECT_EQ(next, expected.size()) << ::testing::PrintToString(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(matches(lines.back(), expand(expected.back())));
  }

  static bool matches(const std::string& line, const std::string& want) {
    if (!want.empty() && want.back() == '*') {
      return line.starts_with(want.substr(0, want.size() - 1));
    }
    return line == want;
  }

  void expectHolds(Holds holds) const {
    const Bytes& image = demoImage();
    const Bytes& def = demoDefBlock();
    const Bytes imageTail(image.begin() + 2, image.end());
    const std::uint32_t imageEnd = kFirmwareStart + static_cast<std::uint32_t>(image.size());
    switch (holds) {
      case Holds::Untouched:
        EXPECT_TRUE(flashIsUntouched(kFirmwareStart, 0x70000));
        EXPECT_TRUE(flashIsUntouched(0x84000, def.size()));
        EXPECT_EQ(dynMemory(), originalDyn);
        EXPECT_EQ(radio.contacts(), originalContacts);
        return;
      case Holds::EraseCutAt0x30000:
        EXPECT_TRUE(flashIsErased(0x10000, 0x20000));
        EXPECT_TRUE(flashIsUntouched(0x30000, 0x50000));
        EXPECT_EQ(dynMemory(), originalDyn);
        return;
      case Holds::FirstPieceOnly:
        EXPECT_TRUE(flashIsErased(kFirmwareStart, 2));
        EXPECT_TRUE(flashHolds(0x10002, Bytes(image.begin() + 2, image.begin() + 4098)));
        EXPECT_TRUE(flashIsErased(0x11002, 0x80000 - 0x11002));
        return;
      case Holds::ImageWithoutHead:
        EXPECT_TRUE(flashIsErased(kFirmwareStart, 2));
        EXPECT_TRUE(flashHolds(0x10002, imageTail));
        return;
      case Holds::ImageOnly:
        EXPECT_TRUE(flashHolds(kFirmwareStart, image));
        EXPECT_TRUE(flashIsErased(imageEnd, 0x80000 - imageEnd));
        EXPECT_TRUE(flashIsUntouched(0x84000, def.size()));
        EXPECT_EQ(dynMemory(), originalDyn);
        return;
      case Holds::DefPartlyErased:
        EXPECT_TRUE(flashHolds(kFirmwareStart, image));
        EXPECT_TRUE(flashIsErased(0x84000, 0x2000));
        EXPECT_TRUE(flashIsUntouched(0x86000, def.size() - 0x2000));
        return;
      case Holds::DefErased:
        EXPECT_TRUE(flashHolds(kFirmwareStart, image));
        EXPECT_TRUE(flashIsErased(0x84000, def.size()));
        EXPECT_EQ(dynMemory(), originalDyn);
        return;
      case Holds::DefProgrammedDynKept:
        EXPECT_TRUE(flashHolds(kFirmwareStart, image));
        EXPECT_TRUE(flashHolds(0x84000, def));
        EXPECT_TRUE(flashIsUntouched(0xE0000, 0x10000));
        EXPECT_EQ(dynMemory(), originalDyn);
        EXPECT_EQ(radio.contacts(), originalContacts);
        return;
      case Holds::DynErased:
        EXPECT_TRUE(flashHolds(kFirmwareStart, image));
        EXPECT_TRUE(flashHolds(0x84000, def));
        EXPECT_EQ(dynMemory(), Bytes(kDynSize, 0xFF));
        EXPECT_EQ(radio.blockResetCount(), 0);
        return;
      case Holds::BlocksReset:
        EXPECT_TRUE(flashHolds(kFirmwareStart, image));
        EXPECT_EQ(dynMemory(), Bytes(kDynSize, 0x00));
        EXPECT_TRUE(radio.contacts().empty());
        return;
      case Holds::ContactsPartly: {
        EXPECT_EQ(dynMemory(), originalDyn);
        // Index 1 failed and took the rest of the kind-4 list with it; the kind 2, 3 and 1
        // records went to indices 2 to 5 of 6.
        const std::vector<Bytes> expected = {
            {}, contactRecord(2, 3), contactRecord(3, 4), contactRecord(1, 1), contactRecord(1, 5),
            {}};
        EXPECT_EQ(radio.contacts(), expected);
        EXPECT_EQ(radio.contactRestoreCount(), 1);
        return;
      }
      case Holds::Restored:
        EXPECT_TRUE(flashHolds(kFirmwareStart, image));
        EXPECT_EQ(dynMemory(), originalDyn);
        EXPECT_EQ(radio.contacts(), contactsInRestoreOrder());
        return;
    }
  }
};

TEST_P(ProgramFailureTest, FailsWithItsLineSkipsTheRestAndLeavesTheRadioAsExpected) {
  const FailureCase& c = GetParam();
  Scene scene{radio, manager, info, command, temp.path(), originalContacts};
  c.arrange(scene);
  radio.clearLog();

  EXPECT_FALSE(run());
  EXPECT_FALSE(command.resultFlag);
  expectLines(c.lines);

  const std::vector<RequestKind> kinds = radio.requestKinds();
  std::size_t from = 0;
  if (c.failedAt) {
    const auto last = std::find(kinds.rbegin(), kinds.rend(), *c.failedAt);
    ASSERT_NE(last, kinds.rend()) << requestKindName(*c.failedAt);
    from = static_cast<std::size_t>(kinds.rend() - last);
  }
  for (std::size_t i = from; i < kinds.size(); ++i) {
    EXPECT_EQ(std::find(c.mustNotFollow.begin(), c.mustNotFollow.end(), kinds[i]),
              c.mustNotFollow.end())
        << requestKindName(kinds[i])
        << " follows the failure; run: " << ::testing::PrintToString(requestRuns(kinds));
  }
  EXPECT_EQ(clock.sleeps(), c.waits);
  expectHolds(c.holds);

  // The backup file is written once the backups are taken and before anything is erased, and
  // it stays; without it nothing was erased.
  if (c.backupSaved) {
    ASSERT_FALSE(command.backupFile().empty());
    const auto saved = readPersonalityFile(command.backupFile());
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->blocks.size(), 1u);
    EXPECT_EQ(saved->blocks[0].bytes, originalDyn);
  } else {
    EXPECT_TRUE(command.backupFile().empty());
    EXPECT_EQ(radio.count(RequestKind::EraseFlash), 0);
  }
  // The end still reports to the window, and the run's selection is gone.
  EXPECT_EQ(recorder.messages().back().message, MSG_COMMAND_FINISHED);
  EXPECT_EQ(recorder.progress().back(), 0u);
  EXPECT_EQ(command.selection(), 0);
}

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Codes, ProgramFailureTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvik::testing
