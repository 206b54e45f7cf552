// The update sequence against the simulated radio in process: what the radio holds after a
// run, the order of its requests, the fixed waits and the progress the window sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "commands/personality_file.h"
#include "tests/commands/program_fixture.h"

namespace orvik::testing {
namespace {

using std::chrono::milliseconds;
using Waits = std::vector<milliseconds>;

unsigned piecesOf(std::size_t bytes, std::size_t piece) {
  return static_cast<unsigned>((bytes + piece - 1) / piece);
}

std::string times(const char* kind, unsigned n) {
  return n == 1 ? std::string(kind) : std::string(kind) + " x" + std::to_string(n);
}

// Address and data length of a flash or memory request (long frame: FF op len16 type A2 A1 A0).
struct Placed {
  std::uint32_t address;
  std::size_t length;
  bool operator==(const Placed&) const = default;
};
Placed placed(const LoggedRequest& request) {
  const Bytes& b = request.bytes;
  const std::uint32_t address = std::uint32_t{b[5]} << 16 | std::uint32_t{b[6]} << 8 | b[7];
  return {address, b.size() - 9};
}

using ProgramSequenceTest = ProgramTest;

TEST_F(ProgramSequenceTest, FullUpdateLeavesTheRadioUpdatedWithItsPersonality) {
  ASSERT_TRUE(run()) << ::testing::PrintToString(errorLines());
  EXPECT_EQ(errorLines(), Lines{});

  // Firmware from 0x10000, the default block at the layout's DEF address, nothing programmed
  // over flash that was not erased first.
  EXPECT_TRUE(flashHolds(kFirmwareStart, demoImage()));
  EXPECT_TRUE(flashHolds(0x84000, demoDefBlock()));
  EXPECT_EQ(radio.flashOverwrites(), 0u);
  // The dynamic block was erased in flash, then reset, then written back from the backup.
  EXPECT_TRUE(flashIsErased(0xE0000, 0x10000));
  EXPECT_EQ(dynMemory(), originalDyn);
  EXPECT_EQ(radio.contacts(), contactsInRestoreOrder());
  EXPECT_EQ(radio.blockResetCount(), 1);
  EXPECT_EQ(radio.factoryRestoreCount(), 1);
  EXPECT_EQ(radio.contactRestoreCount(), 1);
  EXPECT_EQ(radio.protectionMode(), 0x0840);
  EXPECT_EQ(radio.testMode(), SimTestMode::Normal);

  const unsigned pieces = piecesOf(demoImage().size() - 2, 4096);
  const unsigned dynPieces = piecesOf(kDynSize, 220);
  EXPECT_EQ(requestRuns(radio.requestKinds()), (Lines{"test-mode",
                                                      "flash-follow-up",
                                                      times("mem-read", dynPieces),
                                                      "contact-read x6",
                                                      "protection",
                                                      "erase-flash x7",
                                                      times("write-flash", pieces + 1),
                                                      "protection",
                                                      "erase-flash x16",
                                                      "write-flash x16",
                                                      "erase-flash",
                                                      "reset",
                                                      "test-mode",
                                                      "softpot-write x2",
                                                      times("mem-write", dynPieces),
                                                      "contact-write x6",
                                                      "contact-restore",
                                                      "test-mode",
                                                      "protection",
                                                      "reset"}));
  EXPECT_EQ(clock.sleeps(), (Waits{milliseconds(100), milliseconds(100), milliseconds(200),
                                   milliseconds(1000), milliseconds(100), milliseconds(100)}));

  // The contacts go back kind 4, 2, 3, 1 with indices from 1 and the total of all lists.
  const auto writes = radio.requestsOf(RequestKind::ContactWrite);
  const std::vector<Bytes> ordered = contactsInRestoreOrder();
  ASSERT_EQ(writes.size(), ordered.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const Bytes& frame = writes[i].bytes;
    // FF 9B len16 31 00 index total record CS
    EXPECT_EQ(frame[6], i + 1);
    EXPECT_EQ(frame[7], ordered.size());
    EXPECT_EQ(Bytes(frame.begin() + 8, frame.end() - 1), ordered[i]);
  }

  // The run empties its selection and steps but keeps the rest of its configuration.
  EXPECT_EQ(command.selection(), 0);
  EXPECT_TRUE(command.steps().empty());
  EXPECT_EQ(command.firmwareFile(), demoFirmwareFile());
  EXPECT_EQ(command.personalityBlocks().size(), 2u);
}

TEST_F(ProgramSequenceTest, AtLineTimeTheUpdateMakesTheRequestsOfAnInstantRadio) {
  ASSERT_TRUE(run()) << ::testing::PrintToString(errorLines());
  const std::vector<RequestKind> instant = radio.requestKinds();

  // The same update again, with every byte taking its time on a 57600-baud line and the radio
  // 1 ms late with every answer: a full flash piece is longer on the line than the wait for
  // its answer's first bytes.
  radio.clearLog();
  cable.keepLineTime(milliseconds(1));
  command.requestFirmwareSteps();
  command.requestCodeplugStep();
  command.requestPersonalitySteps();
  const milliseconds start = clock.now();
  ASSERT_TRUE(run()) << ::testing::PrintToString(errorLines());
  EXPECT_EQ(errorLines(), Lines{});
  EXPECT_EQ(radio.requestKinds(), instant);
  EXPECT_TRUE(flashHolds(kFirmwareStart, demoImage()));
  EXPECT_EQ(dynMemory(), originalDyn);
  EXPECT_EQ(radio.contacts(), contactsInRestoreOrder());
  // The image alone takes this long on the line.
  EXPECT_GT(clock.now() - start, milliseconds(demoImage().size() * 10 * 1000 / 57600));
}

TEST_F(ProgramSequenceTest, FirmwareGoesInPiecesWithItsFirstTwoBytesLast) {
  ASSERT_TRUE(run());
  const auto writes = radio.requestsOf(RequestKind::WriteFlash);
  const Bytes& image = demoImage();
  const unsigned pieces = piecesOf(image.size() - 2, 4096);
  ASSERT_GE(writes.size(), pieces + 1);
  std::uint32_t address = kFirmwareStart + 2;
  for (unsigned i = 0; i < pieces; ++i) {
    const std::size_t n = std::min<std::size_t>(4096, image.size() - (address - kFirmwareStart));
    EXPECT_EQ(placed(writes[i]), (Placed{address, n})) << "piece " << i;
    address += static_cast<std::uint32_t>(n);
  }
  EXPECT_EQ(address, kFirmwareStart + image.size());
  EXPECT_EQ(placed(writes[pieces]), (Placed{kFirmwareStart, 2}));
  EXPECT_EQ(Bytes(writes[pieces].bytes.begin() + 8, writes[pieces].bytes.end() - 1),
            (Bytes{0x09, 0xAA}));

  // The firmware region is erased in 64 KiB units before any of it is programmed.
  const auto erases = radio.requestsOf(RequestKind::EraseFlash);
  for (unsigned i = 0; i < 7; ++i) {
    EXPECT_EQ(erases[i].bytes[4], 6);
    EXPECT_EQ(placed(erases[i]).address, 0x10000u * (i + 1));
  }
}

TEST_F(ProgramSequenceTest, ImageOfOnePieceAndTwoBytes) {
  // 4098 bytes: one piece of 4096 at 0x10002, then the head.
  const std::filesystem::path file = temp.path() / "fw_small.kxk";
  const Bytes image = imageOfLength(4098);
  writeFirmwareContainer(file, image);
  CmdProgram firmwareOnly;
  firmwareOnly.radioInfo = &info;
  firmwareOnly.notifyWindow = recorder.window();
  firmwareOnly.setAddressMapFile(demoAddressMapFile());
  firmwareOnly.setFirmwareFile(file);
  firmwareOnly.requestFirmwareSteps();
  firmwareOnly.keepPersonality = false;
  ASSERT_TRUE(firmwareOnly.execute());
  currentThreadQueue().processPending();

  const auto writes = radio.requestsOf(RequestKind::WriteFlash);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(placed(writes[0]), (Placed{0x10002, 4096}));
  EXPECT_EQ(placed(writes[1]), (Placed{kFirmwareStart, 2}));
  EXPECT_TRUE(flashHolds(kFirmwareStart, image));
  // Steps 4 and 5 (weights 1 and 5) share 100 as 16 and 83: the one piece takes the
  // programming step to its whole weight.
  EXPECT_EQ(recorder.progress(), (std::vector<unsigned>{99, 100, 0}));
}

TEST_F(ProgramSequenceTest, ProgressFollowsTheStepWeightsAndEndsWithFullThenZero) {
  // The run goes on a worker so that the posted and the sent messages arrive in their order.
  std::thread worker([this] { command.execute(); });
  worker.join();
  currentThreadQueue().processPending();

  EXPECT_FLOAT_EQ(command.progressScale(), 100.0F / 9.0F);
  const auto& messages = recorder.messages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages.front().message, MSG_COMMAND_STARTED);
  EXPECT_EQ(messages.back().message, MSG_COMMAND_FINISHED);

  // Step weights 11, 11, 55, 11, 11 (contact steps weigh 0 and repeat their base).
  const auto progress = recorder.progress();
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ((std::vector<unsigned>(progress.end() - 2, progress.end())),
            (std::vector<unsigned>{100, 0}));
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - 1));
  for (const unsigned boundary : {11u, 77u, 88u, 99u}) {
    EXPECT_NE(std::find(progress.begin(), progress.end(), boundary), progress.end()) << boundary;
  }
  // The DYN backup's 19 pieces report 0 + trunc(u / 19 * 11); the contact backup repeats 11.
  EXPECT_EQ(progress[0], 0u);
  EXPECT_EQ(progress[18], 11u);
  EXPECT_EQ(progress[19], 11u);
  EXPECT_EQ(command.progressBase, 100u);
}

// The flash layout the radio reports picks the DEF and DYN addresses and the three
// protection modes.
struct LayoutCase {
  std::uint8_t layout;
  std::uint32_t defAddress;
  std::uint32_t dynAddress;
  std::vector<std::uint16_t> modes;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << "layout " << int{c.layout};
}

class LayoutTest : public ProgramTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutTest, CodeplugOnlyUsesTheLayoutsAddressesAndModes) {
  const LayoutCase& c = GetParam();
  SimRadioConfig config = radio.config();
  config.flashLayout = c.layout;
  radio.setConfig(config);
  // Codeplug only: no firmware steps, no personality.
  CmdProgram fresh;
  fresh.radioInfo = &info;
  fresh.setAddressMapFile(demoAddressMapFile());
  fresh.setCodeplugFile(demoCodeplugFile());
  fresh.requestCodeplugStep();
  fresh.keepPersonality = false;
  ASSERT_TRUE(fresh.execute());

  std::vector<std::uint16_t> modes;
  for (const LoggedRequest& r : radio.requestsOf(RequestKind::Protection)) {
    modes.push_back(static_cast<std::uint16_t>(r.bytes[4] << 8 | r.bytes[5]));
  }
  EXPECT_EQ(modes, c.modes);
  const auto erases = radio.requestsOf(RequestKind::EraseFlash);
  ASSERT_EQ(erases.size(), 17u);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(erases[i].bytes[4], 4);
    EXPECT_EQ(placed(erases[i]).address, c.defAddress + i * 0x1000);
  }
  EXPECT_EQ(erases[16].bytes[4], 6);
  EXPECT_EQ(placed(erases[16]).address, c.dynAddress);
  // Layout 0 puts the DYN unit inside the default block's 64 KiB, and the DYN erase comes
  // last; what lies below it holds the block.
  const Bytes& def = demoDefBlock();
  const std::size_t below = std::min<std::size_t>(def.size(), c.dynAddress - c.defAddress);
  EXPECT_TRUE(flashHolds(c.defAddress, Bytes(def.begin(), def.begin() + below)));
  // No firmware: nothing at 0x10000 was erased or programmed.
  EXPECT_TRUE(flashIsUntouched(kFirmwareStart, 0x100));
  // The block reset asks for TOVR test mode even without the personality.
  EXPECT_EQ(radio.count(RequestKind::TestMode), 3);
  EXPECT_EQ(radio.count(RequestKind::MemRead), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutTest,
    ::testing::Values(LayoutCase{0, 0x64000, 0x70000, {0x0800, 0x0840, 0x0440}},
                      LayoutCase{1, 0x84000, 0xE0000, {0x1000, 0x3000, 0x0840}},
                      LayoutCase{2, 0x84000, 0x180000, {0x3040, 0x3000, 0x1040}}),
    [](const auto& info) { return "Layout" + std::to_string(info.param.layout); });

TEST_F(ProgramSequenceTest, StatusWordWithTheFactoryBitSkipsTheFactoryRestore) {
  SimRadioConfig config = radio.config();
  config.resetStatusWord = 0x0040;
  radio.setConfig(config);
  ASSERT_TRUE(run());
  const auto softpots = radio.requestsOf(RequestKind::SoftpotWrite);
  ASSERT_EQ(softpots.size(), 1u);
  EXPECT_EQ(softpots[0].bytes[4], 0x2E);
  EXPECT_EQ(radio.factoryRestoreCount(), 0);
}

TEST_F(ProgramSequenceTest, WithoutPersonalityNothingIsReadOrWrittenBack) {
  command.keepPersonality = false;
  ASSERT_TRUE(run());
  for (const RequestKind kind :
       {RequestKind::MemRead, RequestKind::MemWrite, RequestKind::ContactRead,
        RequestKind::ContactWrite, RequestKind::ContactRestore}) {
    EXPECT_EQ(radio.count(kind), 0) << requestKindName(kind);
  }
  EXPECT_TRUE(command.backupFile().empty());
  EXPECT_FALSE(std::filesystem::exists(command.backupFolder));
  // The block reset leaves the dynamic block and the contacts empty.
  EXPECT_EQ(dynMemory(), Bytes(kDynSize, 0x00));
  EXPECT_TRUE(radio.contacts().empty());
}

// Kept without a DYN record, the personality would be erased unread: the run stops before it
// reads or erases anything.
TEST_F(ProgramSequenceTest, ListWithoutDynRecordIsRefusedBeforeAnythingIsRead) {
  const PersonalityBlock blocks[] = {{CON, 0x830000, 0x2000}};
  command.setPersonalityBlocks(blocks);
  EXPECT_FALSE(run());
  EXPECT_EQ(errorLines(), (Lines{"6:Error:the address or length of block [DYN] configured is not "
                                 "matched to the address map (0x008).",
                                 "9:Finalize flashing data."}));
  EXPECT_EQ(requestRuns(radio.requestKinds()), (Lines{"test-mode", "flash-follow-up"}));
  EXPECT_EQ(dynMemory(), originalDyn);
  EXPECT_EQ(radio.contacts(), originalContacts);
  EXPECT_TRUE(command.backupFile().empty());
}

// A stop asked for before anything is erased (a signal to a station between its question and
// the update) ends the run before the first erase, without a journal entry that would call
// the radio's update unfinished; the stop is not left to the next run.
TEST_F(ProgramSequenceTest, AStopAskedForBeforeTheEraseEndsTheRunWithTheRadioUnchanged) {
  command.journalFolder = temp.path() / "journal";
  command.requestStop();
  EXPECT_FALSE(run());
  EXPECT_EQ(errorLines(), (Lines{"9:Error:the update was stopped at a safe point, as the user "
                                 "asked.",
                                 "9:Finalize flashing data."}));
  EXPECT_EQ(radio.count(RequestKind::EraseFlash), 0);
  EXPECT_TRUE(flashIsUntouched(kFirmwareStart, demoImage().size()));
  EXPECT_FALSE(std::filesystem::exists(command.journalFolder) &&
               !std::filesystem::is_empty(command.journalFolder));
  EXPECT_FALSE(command.backupFile().empty());  // the personality read is kept

  removeErrors(ErrorCategory::OK);
  command.setFirmwareFile(demoFirmwareFile());
  command.setCodeplugFile(demoCodeplugFile());
  command.requestFirmwareSteps();
  command.requestCodeplugStep();
  command.requestPersonalitySteps();
  EXPECT_TRUE(run()) << ::testing::PrintToString(errorLines());
  EXPECT_TRUE(flashHolds(kFirmwareStart, demoImage()));
}

TEST_F(ProgramSequenceTest, BackupFileHoldsThePersonalityTakenBeforeTheErase) {
  ASSERT_TRUE(run());
  const std::filesystem::path file = command.backupFile();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.parent_path(), command.backupFolder);
  const auto saved = readPersonalityFile(file);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->model, "LA26CKN9AR1");
  EXPECT_EQ(saved->serial, "1234ABC5678");
  EXPECT_EQ(saved->firmwareVersion, (std::array<std::uint8_t, 4>{'R', 1, 2, 3}));
  EXPECT_EQ(saved->codeplugVersion, (std::array<std::uint8_t, 4>{'R', 1, 2, 0}));
  ASSERT_EQ(saved->blocks.size(), 1u);
  EXPECT_EQ(saved->blocks[0].blockType, DYN);
  EXPECT_EQ(saved->blocks[0].address, kDynAddress);
  EXPECT_EQ(saved->blocks[0].bytes, originalDyn);
  EXPECT_EQ(saved->contactLists[0], (std::vector<Bytes>{contactRecord(1, 1), contactRecord(1, 5)}));
  EXPECT_EQ(saved->contactLists[3], (std::vector<Bytes>{contactRecord(4, 2), contactRecord(4, 6)}));

  // The file stays after the run; the next run writes a file of its own, also within the
  // same second.
  ASSERT_TRUE(std::filesystem::exists(file));
  command.requestCodeplugStep();
  ASSERT_TRUE(run());
  EXPECT_NE(command.backupFile(), file);
  EXPECT_TRUE(std::filesystem::exists(command.backupFile()));
  EXPECT_EQ(readPersonalityFile(file)->blocks[0].bytes, originalDyn);
}

TEST_F(ProgramSequenceTest, NotConnectedSendsNothingAndStillSwitchesBaud) {
  ASSERT_TRUE(manager.disconnect());
  radio.clearLog();
  EXPECT_FALSE(run());
  EXPECT_EQ(errorLines(), (Lines{"3:Error:no port is connected (0x001).",
                                 "9:Error:failed to set baud rate to [57600] (0x01a).",
                                 "9:Finalize flashing data."}));
  EXPECT_TRUE(radio.requests().empty());
  // The end of the run still reports to the window.
  EXPECT_EQ(recorder.messages().back().message, MSG_COMMAND_FINISHED);
  EXPECT_EQ((recorder.progress()), (std::vector<unsigned>{100, 0}));
}

}  // namespace
}  // namespace orvik::testing
