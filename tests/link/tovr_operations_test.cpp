#include <gtest/gtest.h>

#include <numeric>

#include "link/tovr_frame.h"
#include "tests/link/tovr_test_support.h"

namespace orvik {
namespace {

using testing::errorLines;
using testing::ScriptedCableDriver;
using testing::TovrTest;
using Call = ScriptedCableDriver::Call;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

bool sumsToFF(const Bytes& frame) {
  return (std::accumulate(frame.begin(), frame.end(), 0u) & 0xFF) == 0xFF;
}

// The bytes each operation puts on the wire.
TEST_F(TovrTest, OperationsSendTheirRequestBytes) {
  struct Case {
    const char* name;
    std::function<void(TovrTest&)> call;
    Bytes expected;
  };
  const Bytes serial(11, '7');
  const Case cases[] = {
      {"memRead",
       [](TovrTest& t) {
         t.address = 0x1234;
         t.tovr.memRead(4, t.address, t.opcode, t.data);
       },
       {0xFF, 0x11, 0x00, 0x05, 0x04, 0x00, 0x12, 0x34, 0xA0}},
      {"memWrite",
       [](TovrTest& t) {
         t.address = 0xAB820010;  // only the low 24 bits go out
         t.tovr.memWrite(Bytes{0xAA, 0xBB}, t.address, t.opcode, t.data);
       },
       {0xFF, 0x17, 0x00, 0x07, 0x01, 0x82, 0x00, 0x10, 0xAA, 0xBB, 0xEA}},
      {"resetDevice",
       [](TovrTest& t) { t.tovr.resetDevice(1, t.opcode, t.data); },
       {0xFF, 0x10, 0x00, 0x02, 0x01, 0xED}},
      {"requestTestMode",
       [](TovrTest& t) { t.tovr.requestTestMode(8, 0, 0, t.opcode, t.data); },
       {0xF4, 0x22, 0x08, 0x00, 0x00, 0xE1}},
      {"softpotWrite",
       [](TovrTest& t) { t.tovr.softpotWrite(0x2E, 0, {}, t.opcode, t.data); },
       {0xFF, 0x38, 0x00, 0x05, 0x2E, 0x00, 0x00, 0x00, 0x95}},
      {"softpotRead",
       [](TovrTest& t) { t.tovr.softpotRead(t.opcode, t.data); },
       {0xFF, 0x20, 0x00, 0x04, 0x31, 0x00, 0x00, 0xAB}},
      {"statusQuery",
       [](TovrTest& t) { t.tovr.statusQuery(3, t.opcode, t.data); },
       {0xF2, 0x23, 0x03, 0xE7}},
      {"bootloadRequest", [](TovrTest& t) { t.tovr.bootloadRequest(); }, {0xA1, 0x00, 0x5E}},
      {"setProtectionMode",
       [](TovrTest& t) { t.tovr.setProtectionMode(0x3040, t.opcode, t.data); },
       {0xF5, 0x72, 0x08, 0x00, 0x30, 0x40, 0x20}},
      {"eraseFlash",
       [](TovrTest& t) {
         t.address = 0x10000;
         t.tovr.eraseFlash(6, t.address, t.opcode, t.data);
       },
       {0xFF, 0x72, 0x00, 0x05, 0x06, 0x01, 0x00, 0x00, 0x82}},
      {"backupFactoryBlock",
       [](TovrTest& t) { t.tovr.backupFactoryBlock(t.opcode, t.data); },
       {0xF5, 0x38, 0x26, 0x00, 0x00, 0x00, 0xAC}},
      {"contactRestore",
       [](TovrTest& t) { t.tovr.contactRestore(t.opcode, t.data); },
       {0xF2, 0x9B, 0x36, 0x3C}},
      {"flashModeFollowUp",
       [](TovrTest& t) { t.tovr.flashModeFollowUp(t.opcode, t.data); },
       {0xF3, 0x24, 0x02, 0x00, 0xE6}},
      {"updateSerialNumber",
       [&serial](TovrTest& t) { t.tovr.updateSerialNumber(serial, t.opcode, t.data); },
       {0xFE, 0x18, 0x01, 0x01, '7', '7', '7', '7', '7', '7', '7', '7', '7', '7', '7', 0x8A}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    driver.written.clear();
    c.call(*this);
    // Without an answer every operation tries again: the request is sent `trials` times
    // (memWrite five times), the same bytes each time.
    ASSERT_FALSE(driver.written.empty());
    const Bytes first(driver.written.begin(),
                      driver.written.begin() + static_cast<long>(c.expected.size()));
    EXPECT_EQ(first, c.expected);
    EXPECT_TRUE(sumsToFF(first) || c.expected[0] == 0xA1);
    EXPECT_EQ(driver.written.size() % c.expected.size(), 0u);
  }
}

TEST_F(TovrTest, FrameFormsFollowTheirLengths) {
  answerShort(0x95, {0x01});
  Bytes image(5000);
  std::iota(image.begin(), image.end(), 0);
  address = 0x10002;
  EXPECT_EQ(tovr.writeFlash(image, address, opcode, data), 1);
  ASSERT_EQ(driver.written.size(), 4105u);  // 4096 bytes of data and 9 of frame
  EXPECT_EQ(Bytes(driver.written.begin(), driver.written.begin() + 8),
            (Bytes{0xFF, 0x72, 0x10, 0x05, 0x01, 0x01, 0x00, 0x02}));
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 4096, driver.written.begin() + 8));
  EXPECT_TRUE(sumsToFF(driver.written));

  // Contact requests: short up to 12 data bytes, long from 13 on.
  answerShort(0x41, {0x50});
  driver.written.clear();
  tovr.contactCommand(0x31, Bytes(12, 0x01), opcode, data);
  EXPECT_EQ(driver.written.size(), 16u);
  EXPECT_EQ(driver.written[0], 0xFE);
  answerShort(0x41, {0x50});
  driver.written.clear();
  tovr.contactCommand(0x31, Bytes(13, 0x01), opcode, data);
  EXPECT_EQ(driver.written.size(), 19u);
  EXPECT_EQ(Bytes(driver.written.begin(), driver.written.begin() + 5),
            (Bytes{0xFF, 0x9B, 0x00, 0x0F, 0x31}));
}

TEST_F(TovrTest, PreconditionsFailWithoutExchangeOrLine) {
  EXPECT_EQ(tovr.memRead(221, address, opcode, data), -1);
  EXPECT_EQ(tovr.memWrite(Bytes(221, 0), address, opcode, data), -1);
  EXPECT_EQ(tovr.memWrite(Bytes{}, address, opcode, data), -1);
  EXPECT_EQ(tovr.contactCommand(0x31, Bytes(215, 0), opcode, data), -1);  // frame over 220
  EXPECT_EQ(tovr.updateSerialNumber(Bytes(12, '1'), opcode, data), -1);
  port.setLastStatus(FT_IO_ERROR);
  EXPECT_EQ(tovr.statusQuery(0, opcode, data), -1);
  EXPECT_EQ(tovr.resetDevice(0, opcode, data), -1);
  EXPECT_EQ(tovr.radioBaudSwitch(0, opcode, data), -1);
  EXPECT_EQ(writes(), 0);
  EXPECT_TRUE(errorLines().empty());
}

TEST_F(TovrTest, WriteFlashOnUnusablePortStillReportsItsFailure) {
  port.setLastStatus(FT_IO_ERROR);
  opcode = 0x33;
  address = 0x10002;
  EXPECT_EQ(tovr.writeFlash(Bytes(10, 0xAA), address, opcode, data), -1);
  EXPECT_EQ(writes(), 0);
  EXPECT_EQ(errorLines(), Lines{"2:Error:failed to request to write flash with 19 bytes after 2 "
                                "trials. The address is 65538, the status is -1, the last OPC is "
                                "51."});
}

TEST_F(TovrTest, MemWriteStopsAtAnAnswerOfAnotherKind) {
  answerLong(0x8C, {0x00, 0x00, 0x00, 0x00});
  address = 0x820000;
  EXPECT_EQ(tovr.memWrite(Bytes{1, 2, 3}, address, opcode, data), 4);
  EXPECT_EQ(writes(), 1);
  EXPECT_EQ(errorLines(), Lines{"2:Error:failed to do memWrite after 5 trials. Address is 0, "
                                "length is 3, the status is 4, the last OPC is 140."});
}

TEST_F(TovrTest, MemWriteWithoutAnswerTriesFiveTimesAndKeepsOnlyTheLastPortLines) {
  address = 0x820000;
  EXPECT_EQ(tovr.memWrite(Bytes{1, 2, 3}, address, opcode, data), -1);
  EXPECT_EQ(writes(), 5);
  EXPECT_EQ(errorLines(), (Lines{"3:Error:failed to read port for 1 bytes after 2 trials.",
                                 "2:Error:failed to do memWrite after 5 trials. Address is 0, "
                                 "length is 3, the status is -1, the last OPC is 0."}));
}

// A memory read takes only the answer to itself: a memory-read answer that echoes the address
// asked for with exactly the bytes asked for. Anything else is a failed attempt, so that no
// caller goes on from another answer's address or bytes.
TEST_F(TovrTest, MemReadTakesOnlyTheAnswerToItself) {
  struct Case {
    const char* name;
    std::uint8_t answerOpcode;
    Bytes answerPayload;
    int result;
    int requests;
    std::string line;  // empty: none
  };
  const std::string head = "2:Error:failed to do memRead after 2 trials. Address is ";
  const Case cases[] = {
      {"the answer asked for", 0x80, {0x00, 0x82, 0x00, 0x10, 1, 2, 3, 4}, 4, 1, ""},
      {"a two-byte refusal",
       0x8D,
       {0x00, 0x00},
       2,
       2,
       head + "0, length is 4, the status is 2, the last OPC is 141."},
      {"another address",
       0x80,
       {0x00, 0x82, 0x00, 0x14, 1, 2, 3, 4},
       4,
       2,
       head + "8519700, length is 4, the status is 4, the last OPC is 128."},
      {"fewer bytes",
       0x80,
       {0x00, 0x82, 0x00, 0x10, 1, 2},
       2,
       2,
       head + "8519696, length is 4, the status is 2, the last OPC is 128."},
      {"more bytes",
       0x80,
       {0x00, 0x82, 0x00, 0x10, 1, 2, 3, 4, 5},
       5,
       2,
       head + "8519696, length is 4, the status is 5, the last OPC is 128."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    removeErrors(ErrorCategory::OK);
    driver.calls.clear();
    answers.clear();
    answerShort(c.answerOpcode, c.answerPayload);
    answerShort(c.answerOpcode, c.answerPayload);
    address = 0x820010;
    EXPECT_EQ(tovr.memRead(4, address, opcode, data), c.result);
    EXPECT_EQ(writes(), c.requests);
    EXPECT_EQ(errorLines(), c.line.empty() ? Lines{} : Lines{c.line});
  }

  // A refusal followed by the right answer: the second attempt is taken, without a line.
  removeErrors(ErrorCategory::OK);
  driver.calls.clear();
  answers.clear();
  answerShort(0x8D, {0x00, 0x00});
  answerShort(0x80, {0x00, 0x82, 0x00, 0x10, 9, 8, 7, 6});
  address = 0x820010;
  EXPECT_EQ(tovr.memRead(4, address, opcode, data), 4);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), (Bytes{9, 8, 7, 6}));
  EXPECT_EQ(address, 0x820010u);
  EXPECT_EQ(writes(), 2);
  EXPECT_TRUE(errorLines().empty());
}

TEST_F(TovrTest, SecondAttemptThatSucceedsLeavesNoLines) {
  answer({});  // the first attempt meets silence
  answerShort(0x8C, {0x08, 0x01});
  EXPECT_EQ(tovr.requestTestMode(8, 0, 0, opcode, data), 2);
  EXPECT_EQ(writes(), 2);
  EXPECT_EQ(data[1], 0x01);
  EXPECT_TRUE(errorLines().empty());
}

// Which answers each operation takes as success, and the line it leaves when it gives up.
TEST_F(TovrTest, SuccessRulesAndFailureLines) {
  struct Case {
    const char* name;
    std::function<int(TovrTest&)> call;
    std::uint8_t answerOpcode;
    Bytes answerPayload;
    int result;
    Lines lines;  // besides the port lines of the last attempt
    int requests;
  };
  const Case cases[] = {
      {"memRead of nothing",
       [](TovrTest& t) {
         t.address = 16;
         return t.tovr.memRead(0, t.address, t.opcode, t.data);
       },
       0x80,
       {0, 0, 0, 16},
       0,
       {"2:Error:failed to do memRead after 2 trials. Address is 16, length is 0, the status is 0, "
        "the last OPC is 128."},
       2},
      {"reset takes any answer",
       [](TovrTest& t) { return t.tovr.resetDevice(1, t.opcode, t.data); },
       0x33,
       {0x00, 0x40},
       2,
       {},
       1},
      {"test mode wants 8C",
       [](TovrTest& t) { return t.tovr.requestTestMode(1, 0, 0, t.opcode, t.data); },
       0x95,
       {},
       0,
       {"2:Error:failed to request for test mode after 2 trials. Test mode type is 1, the status "
        "is 0, the last OPC is 149."},
       2},
      {"softpot write wants 8C",
       [](TovrTest& t) { return t.tovr.softpotWrite(0x27, 0, {}, t.opcode, t.data); },
       0x8D,
       {},
       0,
       {"2:Error:failed to do softport write after 2 trials. Softpot type is 39, the status is 0, "
        "the last OPC is 141."},
       2},
      {"softpot read wants 8A",
       [](TovrTest& t) { return t.tovr.softpotRead(t.opcode, t.data); },
       0x8C,
       {0x31},
       1,
       {"2:Error:failed to do softport read."},
       2},
      {"serial number takes any answer but says so",
       [](TovrTest& t) { return t.tovr.updateSerialNumber(Bytes{'1'}, t.opcode, t.data); },
       0x84,
       {0, 0, 0, 0},
       0,
       {"2:Error:failed to request to update SN."},
       1},
      {"protection wants 95",
       [](TovrTest& t) { return t.tovr.setProtectionMode(0x0840, t.opcode, t.data); },
       0x8C,
       {},
       0,
       {"2:Error:failed to request for protection model after 2 trials. Mode type is 2112, the "
        "status is 0, the last OPC is 140."},
       2},
      {"erase wants 95",
       [](TovrTest& t) {
         t.address = 0x30000;
         return t.tovr.eraseFlash(6, t.address, t.opcode, t.data);
       },
       0x8C,
       {},
       0,
       {"2:Error:failed to request for erase falsh after 2 trials. Erase type is 6, the address "
        "is 0, the status is 0, the last OPC is 140."},
       2},
      {"factory backup wants 8C",
       [](TovrTest& t) { return t.tovr.backupFactoryBlock(t.opcode, t.data); },
       0x95,
       {},
       0,
       {"2:Error:failed to request to do factory block backup."},
       2},
      {"contact read wants 8C first",
       [](TovrTest& t) {
         return t.tovr.contactCommand(0x30, Bytes{0, 0, 0}, t.opcode, t.data);
       },
       0x41,
       {0x50, 0x30, 0, 1},
       4,
       {},
       2},
      {"contact write wants 50 first",
       [](TovrTest& t) {
         return t.tovr.contactCommand(0x31, Bytes{0, 1, 1}, t.opcode, t.data);
       },
       0x41,
       {0x50, 0x31, 1},
       3,
       {},
       1},
      {"status query needs data",
       [](TovrTest& t) { return t.tovr.statusQuery(0, t.opcode, t.data); },
       0xA3,
       {},
       0,
       {},
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    removeErrors(ErrorCategory::OK);
    driver.calls.clear();
    answers.clear();
    for (int i = 0; i < 5; ++i) {
      answerShort(c.answerOpcode, c.answerPayload);
    }
    EXPECT_EQ(c.call(*this), c.result);
    EXPECT_EQ(errorLines(), c.lines);
    EXPECT_EQ(writes(), c.requests);
  }
}

TEST_F(TovrTest, ContactRestoreMapsItsAnswer) {
  struct Case {
    Bytes response;
    int result;
  };
  const Case cases[] = {
      {{}, -1},
      {{0x50, 0xF1, 0x41, 0xCD}, -2},
      {{0x50, 0xF2, 0x41, 0x00, 0xCC}, -3},
      {{0x50, 0xF2, 0x8C, 0x50, 0x31}, -3},
      {{0x50, 0xF2, 0x41, 0x50, 0x7C}, 1},
  };
  for (const Case& c : cases) {
    answers.clear();
    answer(c.response);
    answer(c.response);
    EXPECT_EQ(tovr.contactRestore(opcode, data), c.result);
  }
}

TEST_F(TovrTest, BaudSwitchOnlyWhenThePortIsElsewhere) {
  EXPECT_EQ(port.baudRate(), 57600u);
  EXPECT_EQ(tovr.radioBaudSwitch(0, opcode, data), 0);
  EXPECT_EQ(writes(), 0);

  ASSERT_TRUE(port.setBaudRate(TOVR::kProbeBaudRate));
  answerShort(0x8C, {0x2A});
  EXPECT_EQ(tovr.radioBaudSwitch(1, opcode, data), 1);
  EXPECT_EQ(driver.written,
            (Bytes{0xFF, 0x38, 0x00, 0x09, 0x2A, 0x00, 0x00, 0x01, 0x00, 0x00, 0xE1, 0x00, 0xB3}));
  EXPECT_EQ(port.baudRate(), 57600u);
  EXPECT_EQ(driver.baudRate, 57600u);

  // The radio switched but the port cannot follow.
  ASSERT_TRUE(port.setBaudRate(TOVR::kProbeBaudRate));
  answerShort(0x8C, {0x2A});
  driver.failNext(Call::SetBaudRate, {FT_IO_ERROR});
  EXPECT_EQ(tovr.radioBaudSwitch(0, opcode, data), -1);
  EXPECT_EQ(errorLines(), Lines{"3:Error:failed to set baud rade [57600]."});
  EXPECT_EQ(port.baudRate(), TOVR::kProbeBaudRate);
}

}  // namespace
}  // namespace orvik
