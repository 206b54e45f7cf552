// The personality phases on their own: how the DYN blocks are split into memory pieces, which
// memory answers go into the backup, how contact records are sorted into their lists and
// written back, and which records fail the backup.
#include <gtest/gtest.h>

#include <deque>

#include "commands/personality_phases.h"
#include "link/tovr_frame.h"
#include "tests/commands/program_fixture.h"
#include "tests/support/scripted_cable_driver.h"

namespace orvik::testing {
namespace {

using Progress = std::vector<std::pair<unsigned, unsigned>>;

// A piece of a memory request: FF op len16 [01] A2 A1 A0 ...
struct Piece {
  std::uint32_t address;
  std::size_t length;
  bool operator==(const Piece&) const = default;
};

std::uint32_t address24(const Bytes& frame, std::size_t at) {
  return std::uint32_t{frame[at]} << 16 | std::uint32_t{frame[at + 1]} << 8 | frame[at + 2];
}

class PhasesTest : public ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    ASSERT_TRUE(manager.connect(true));
    radio.clearLog();
    removeErrors(ErrorCategory::OK);
  }

  PersonalityPhases::Hooks hooks() {
    PersonalityPhases::Hooks h;
    h.progress = [this](unsigned done, unsigned total) { progress.emplace_back(done, total); };
    h.fail = [this](UpdateFailure failure, std::initializer_list<std::string> arguments) {
      failures.push_back(updateFailureText(failure, arguments));
    };
    return h;
  }

  std::vector<Piece> memoryPieces(RequestKind kind) const {
    std::vector<Piece> pieces;
    for (const LoggedRequest& r : radio.requestsOf(kind)) {
      if (kind == RequestKind::MemRead) {
        pieces.push_back({address24(r.bytes, 5), r.bytes[4]});
      } else {
        pieces.push_back({address24(r.bytes, 5), r.bytes.size() - 9});
      }
    }
    return pieces;
  }

  SimRadio radio;
  VirtualClock clock;
  SimCableDriver cable{radio, clock};
  RadioManager manager{cable, clock};
  std::array<std::uint8_t, TOVR::kReceiveBufferSize> data{};
  PersonalityPhases phases{manager.radioInfo()->engine(), data, hooks()};
  Progress progress;
  Lines failures;
};

TEST_F(PhasesTest, DynBlockGoesIn220BytePiecesBothWays) {
  const PersonalityBlock blocks[] = {{DYN, kDynAddress, 1000}, {CON, 0x830000, 0x2000}};
  const Bytes original = radio.memoryBytes(kDynAddress, 1000);
  ASSERT_TRUE(phases.backupDynBlocks(blocks));
  const std::vector<Piece> expected = {
      {0x820000, 220}, {0x8200DC, 220}, {0x8201B8, 220}, {0x820294, 220}, {0x820370, 120}};
  EXPECT_EQ(memoryPieces(RequestKind::MemRead), expected);
  EXPECT_EQ(progress, (Progress{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
  ASSERT_EQ(phases.backup().blocks.size(), 1u);
  EXPECT_EQ(phases.backup().blocks[0].bytes, original);

  radio.setMemoryBytes(kDynAddress, Bytes(1000, 0));
  progress.clear();
  ASSERT_TRUE(phases.restoreDynBlocks());
  EXPECT_EQ(memoryPieces(RequestKind::MemWrite), expected);
  EXPECT_EQ(radio.memoryBytes(kDynAddress, 1000), original);
  EXPECT_EQ(progress.back(), (std::pair<unsigned, unsigned>{5, 5}));
  // Written back means released.
  EXPECT_TRUE(phases.backup().blocks[0].bytes.empty());
  EXPECT_TRUE(failures.empty());
}

TEST_F(PhasesTest, EveryDynRecordKeepsABufferOfItsOwn) {
  const Bytes second(300, 0x5A);
  radio.setMemoryBytes(0x900000, second);
  const PersonalityBlock blocks[] = {{DYN, kDynAddress, 400}, {DYN, 0x900000, 300}};
  const Bytes first = radio.memoryBytes(kDynAddress, 400);
  ASSERT_TRUE(phases.backupDynBlocks(blocks));
  // Progress runs over the pieces of both records: 2 + 2.
  EXPECT_EQ(progress.back(), (std::pair<unsigned, unsigned>{4, 4}));

  radio.setMemoryBytes(kDynAddress, Bytes(400, 0));
  radio.setMemoryBytes(0x900000, Bytes(300, 0));
  ASSERT_TRUE(phases.restoreDynBlocks());
  EXPECT_EQ(radio.memoryBytes(kDynAddress, 400), first);
  EXPECT_EQ(radio.memoryBytes(0x900000, 300), second);
}

// The backup takes a piece only from the answer to its own read: a refusal is retried, and
// when the retry is refused too the backup fails rather than go on from the refusal's
// address with the refusal's bytes.
TEST_F(PhasesTest, RefusedMemoryReadIsRetriedAndNeverTaken) {
  const PersonalityBlock blocks[] = {{DYN, kDynAddress, 1000}};
  const Bytes original = radio.memoryBytes(kDynAddress, 1000);
  radio.setFaultPlan(FaultPlan().add(RequestKind::MemRead, 3, FaultKind::Refused));
  ASSERT_TRUE(phases.backupDynBlocks(blocks));
  EXPECT_EQ(phases.backup().blocks[0].bytes, original);
  EXPECT_EQ(memoryPieces(RequestKind::MemRead), (std::vector<Piece>{{0x820000, 220},
                                                                    {0x8200DC, 220},
                                                                    {0x8201B8, 220},
                                                                    {0x8201B8, 220},
                                                                    {0x820294, 220},
                                                                    {0x820370, 120}}));
  EXPECT_TRUE(failures.empty());

  phases.release();
  radio.clearLog();
  radio.setFaultPlan(FaultPlan().add(RequestKind::MemRead, 3, FaultKind::Refused, 2));
  EXPECT_FALSE(phases.backupDynBlocks(blocks));
  EXPECT_EQ(failures, Lines{"Error:failed to memRead block [DYN] (0x00a)."});
  EXPECT_EQ(radio.count(RequestKind::MemRead), 4);
}

TEST_F(PhasesTest, RefusedMemoryWriteFailsTheRestore) {
  // The radio answers the write, but not as a memory write: the bytes did not go in.
  const PersonalityBlock blocks[] = {{DYN, kDynAddress, 100}};
  ASSERT_TRUE(phases.backupDynBlocks(blocks));
  radio.setFaultPlan(FaultPlan().add(RequestKind::MemWrite, 1, FaultKind::WrongOpcode));
  radio.clearLog();
  EXPECT_FALSE(phases.restoreDynBlocks());
  EXPECT_EQ(failures, Lines{"Error:failed to memWrite block [DYN] (0x020)."});
  EXPECT_EQ(radio.count(RequestKind::MemWrite), 1);
}

struct ContactCase {
  const char* name;
  std::vector<Bytes> onRadio;
  // What the backup keeps, per kind 1 to 4.
  std::array<std::vector<Bytes>, 4> kept;
  // What the restore writes, in order (all with index from 1 and the same total).
  std::vector<Bytes> written;
};

const ContactCase kContactCases[] = {
    {"KindFourBeforeKindOne",
     {contactRecord(1, 1), contactRecord(1, 2), contactRecord(4, 3), contactRecord(1, 4),
      contactRecord(4, 5)},
     {{{contactRecord(1, 1), contactRecord(1, 2), contactRecord(1, 4)},
       {},
       {},
       {contactRecord(4, 3), contactRecord(4, 5)}}},
     {contactRecord(4, 3), contactRecord(4, 5), contactRecord(1, 1), contactRecord(1, 2),
      contactRecord(1, 4)}},
    {"NoContacts", {}, {}, {}},
};

void PrintTo(const ContactCase& c, std::ostream* os) {
  *os << c.name;
}

class ContactPhasesTest : public PhasesTest, public ::testing::WithParamInterface<ContactCase> {};

TEST_P(ContactPhasesTest, BackupSortsByKindAndRestoreWritesKindsFourTwoThreeOne) {
  const ContactCase& c = GetParam();
  radio.setContacts(c.onRadio);
  ASSERT_TRUE(phases.backupContacts());
  EXPECT_EQ(phases.backup().contactLists, c.kept);
  // One read per record the radio has; an empty radio answers once.
  EXPECT_EQ(radio.count(RequestKind::ContactRead),
            std::max<int>(1, static_cast<int>(c.onRadio.size())));

  radio.setContacts({});
  radio.clearLog();
  ASSERT_TRUE(phases.restoreContacts());
  const auto writes = radio.requestsOf(RequestKind::ContactWrite);
  ASSERT_EQ(writes.size(), c.written.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const Bytes& frame = writes[i].bytes;
    EXPECT_EQ(frame[6], i + 1);
    EXPECT_EQ(frame[7], c.written.size());
    EXPECT_EQ(Bytes(frame.begin() + 8, frame.end() - 1), c.written[i]);
  }
  EXPECT_EQ(radio.contacts(), c.written);
  // Nothing to write back: no master-reset contact restore either.
  EXPECT_EQ(radio.contactRestoreCount(), c.written.empty() ? 0 : 1);
  EXPECT_TRUE(failures.empty());
}

INSTANTIATE_TEST_SUITE_P(Contacts, ContactPhasesTest, ::testing::ValuesIn(kContactCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A record the restore could not write back (no list for its kind, or an answer too short to
// carry a kind) fails the backup at that record: the update must not go on and lose it.
TEST_F(PhasesTest, ContactThatHasNoListFailsTheBackup) {
  const std::pair<const char*, Bytes> cases[] = {
      {"kind 0", contactRecord(0, 2)},
      {"kind 5", contactRecord(5, 2)},
      {"no kind byte", Bytes{1, 2, 3, 4, 5, 6, 7}},
  };
  for (const auto& [name, record] : cases) {
    SCOPED_TRACE(name);
    phases.release();
    failures.clear();
    radio.clearLog();
    radio.setContacts({contactRecord(2, 1), record, contactRecord(1, 3)});
    EXPECT_FALSE(phases.backupContacts());
    EXPECT_EQ(failures, Lines{"Error:failed to read contact index [2] (0x00b)."});
    EXPECT_EQ(radio.count(RequestKind::ContactRead), 2);
  }
}

// A radio whose first contact answer says total 0 while carrying a record; the simulated radio
// never answers so, hence the scripted cable.
TEST(ContactTotalZeroTest, FirstAnswerWithTotalZeroKeepsItsOneRecord) {
  removeErrors(ErrorCategory::OK);
  VirtualClock clock;
  ScriptedCableDriver driver(clock);
  USBSerial port(driver, clock);
  ASSERT_TRUE(port.open(0));
  TOVR tovr(port);

  const Bytes record = contactRecord(3, 9);
  Bytes readAnswer = {0x8C, 0x30, 0x00, 0x00};
  readAnswer.insert(readAnswer.end(), record.begin(), record.end());
  std::deque<Bytes> answers = {longFrame(0x41, readAnswer), shortFrame(0x41, Bytes{0x50, 0x31, 1}),
                               shortFrame(0x41, Bytes{0x50})};
  std::vector<Bytes> requests;
  driver.responder = [&](std::span<const std::uint8_t> bytes) {
    requests.emplace_back(bytes.begin(), bytes.end());
    if (!answers.empty()) {
      driver.arrive({kAcknowledge});
      driver.arrive(answers.front());
      answers.pop_front();
    }
  };

  std::array<std::uint8_t, TOVR::kReceiveBufferSize> data{};
  Progress progress;
  PersonalityPhases::Hooks hooks;
  hooks.progress = [&](unsigned done, unsigned total) { progress.emplace_back(done, total); };
  hooks.fail = [](UpdateFailure failure, std::initializer_list<std::string>) {
    ADD_FAILURE() << static_cast<int>(failure);
  };
  PersonalityPhases phases(tovr, data, hooks);
  ASSERT_TRUE(phases.backupContacts());
  EXPECT_EQ(phases.backup().contactLists[2], std::vector<Bytes>{record});
  EXPECT_EQ(phases.contactCount(), 1u);
  // A total of 0 gives the progress nothing to count against.
  EXPECT_TRUE(progress.empty());

  ASSERT_TRUE(phases.restoreContacts());
  ASSERT_EQ(requests.size(), 3u);
  // FF 9B len16 31 00 index total record CS, then the master-reset contact restore.
  EXPECT_EQ(Bytes(requests[1].begin() + 4, requests[1].begin() + 8), (Bytes{0x31, 0x00, 1, 1}));
  EXPECT_EQ(Bytes(requests[1].begin() + 8, requests[1].end() - 1), record);
  EXPECT_EQ(requests[2], (Bytes{0xF2, 0x9B, 0x36, checksum(Bytes{0xF2, 0x9B, 0x36})}));
  EXPECT_EQ(progress, (Progress{{1, 1}}));
}

}  // namespace
}  // namespace orvik::testing
