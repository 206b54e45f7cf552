#include "sim/sim_radio.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "link/tovr_frame.h"

namespace orvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Requests as the PC's tables write them, checksums included.
const Bytes kMemRead4At1234 = {0xFF, 0x11, 0x00, 0x05, 0x04, 0x00, 0x12, 0x34, 0xA0};
const Bytes kStatusFirmware = {0xF2, 0x23, 0x03, 0xE7};
const Bytes kHardReset = {0xFF, 0x10, 0x00, 0x02, 0x01, 0xED};
const Bytes kSoftReset = {0xFF, 0x10, 0x00, 0x02, 0x00, 0xEE};
const Bytes kFlashTestMode = {0xF4, 0x22, 0x08, 0x00, 0x00, 0xE1};
const Bytes kTovrTestMode = {0xF4, 0x22, 0x01, 0x00, 0x00, 0xE8};
const Bytes kSerial987 = {0xF6, 0x18, 0x01, 0x01, 0x39, 0x38, 0x37, 0x47};
const Bytes kResetAllBlocks = {0xFF, 0x38, 0x00, 0x05, 0x2E, 0x00, 0x00, 0x00, 0x95};
const Bytes kProtection1000 = {0xF5, 0x72, 0x08, 0x00, 0x10, 0x00, 0x80};
const Bytes kRefused = {0x50, 0xF2, 0x8D, 0x00, 0x80};

Bytes ask(SimRadio& radio, const Bytes& request) {
  radio.receive(request);
  return radio.takeOutput();
}

// A request built from its bytes without the checksum.
Bytes request(Bytes bytes) {
  bytes.push_back(checksum(bytes));
  return bytes;
}

// An answer: the acknowledgement, then the frame with its checksum.
Bytes acked(const Bytes& frame) {
  Bytes out = {0x50};
  const Bytes withChecksum = request(frame);
  out.insert(out.end(), withChecksum.begin(), withChecksum.end());
  return out;
}

Bytes eraseRequest(std::uint8_t type, std::uint32_t address) {
  return request({0xFF, 0x72, 0x00, 0x05, type, static_cast<std::uint8_t>(address >> 16),
                  static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
}

Bytes writeFlashRequest(std::uint32_t address, const Bytes& data) {
  const std::size_t length = data.size() + 5;
  Bytes bytes = {0xFF,
                 0x72,
                 static_cast<std::uint8_t>(length >> 8),
                 static_cast<std::uint8_t>(length),
                 0x01,
                 static_cast<std::uint8_t>(address >> 16),
                 static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  return request(bytes);
}

// The contact command in the form its length calls for: short below 15, else long.
Bytes contactRequest(std::uint8_t subCode, const Bytes& data) {
  const std::size_t n = data.size();
  Bytes bytes;
  if (n + 2 < 15) {
    bytes = {static_cast<std::uint8_t>(0xF0 + n + 2), 0x9B, subCode};
  } else {
    bytes = {0xFF, 0x9B, static_cast<std::uint8_t>((n + 2) >> 8), static_cast<std::uint8_t>(n + 2),
             subCode};
  }
  bytes.insert(bytes.end(), data.begin(), data.end());
  return request(bytes);
}

struct Decoded {
  bool ok = false;
  std::uint8_t opcode = 0;
  std::uint32_t address = 0;
  Bytes data;
};

// Reads an answer the way the PC does.
Decoded decode(const Bytes& answer) {
  Decoded out;
  out.data.resize(4109);
  ResponseParser parser(out.data);
  for (std::uint8_t b : answer) {
    parser.feed(b);
  }
  out.ok = parser.state() == ResponseParser::State::Done;
  out.opcode = parser.opcode();
  out.address = parser.address();
  out.data.resize(parser.dataCount());
  return out;
}

TEST(SimRadioAnswers, ExactBytesForEachRequest) {
  struct Case {
    const char* name;
    Bytes request;
    Bytes answer;
    SimTestMode mode = SimTestMode::Normal;
  };
  const Case cases[] = {
      {"memRead",
       kMemRead4At1234,
       {0x50, 0xF9, 0x80, 0x00, 0x00, 0x12, 0x34, 0xAA, 0xBB, 0xCC, 0xDD, 0x32}},
      {"memWrite",
       {0xFF, 0x17, 0x00, 0x07, 0x01, 0x00, 0x12, 0x34, 0xAA, 0xBB, 0x36},
       {0x50, 0xF5, 0x84, 0x00, 0x00, 0x12, 0x34, 0x40}},
      {"firmware", kStatusFirmware, {0x50, 0xF7, 0xA3, 0x03, 0x00, 0x52, 0x01, 0x02, 0x03, 0x0A}},
      {"model",
       {0xF2, 0x23, 0x00, 0xEA},
       {0x50, 0xFE, 0xA3, 0x00, 0x00, 0x4C, 0x41, 0x02, 0x06, 0x43, 0x4B, 0x4E, 0x09, 0x41, 0x52,
        0x01, 0x50}},
      {"serial",
       {0xF2, 0x23, 0x01, 0xE9},
       {0x50, 0xFE, 0xA3, 0x01, 0x00, 0x31, 0x32, 0x33, 0x34, 0x41, 0x42, 0x43, 0x35, 0x36, 0x37,
        0x38, 0xF3}},
      {"keypad kind", {0xF2, 0x23, 0x0D, 0xDD}, {0x50, 0xF4, 0xA3, 0x0D, 0x00, 0x00, 0x5B}},
      {"keypad version",
       {0xF2, 0x23, 0x08, 0xE2},
       {0x50, 0xF7, 0xA3, 0x08, 0x00, 0x52, 0x01, 0x00, 0x00, 0x0A}},
      {"codeplug version",
       {0xF2, 0x23, 0x04, 0xE6},
       {0x50, 0xF7, 0xA3, 0x04, 0x00, 0x52, 0x01, 0x02, 0x00, 0x0C}},
      {"hard reset", kHardReset, {0x50, 0xF3, 0x8C, 0x00, 0x00, 0x80}},
      {"soft reset", kSoftReset, {0x50, 0xF3, 0x8C, 0x00, 0x00, 0x80}},
      {"FLASH test mode", kFlashTestMode, {0x50, 0xF3, 0x8C, 0x08, 0x01, 0x77}},
      {"TOVR test mode", kTovrTestMode, {0x50, 0xF3, 0x8C, 0x01, 0x00, 0x7F}},
      {"follow-up", {0xF3, 0x24, 0x02, 0x00, 0xE6}, {0x50, 0xF3, 0x8C, 0x02, 0x00, 0x7E}},
      {"softpot read",
       {0xFF, 0x20, 0x00, 0x04, 0x31, 0x00, 0x00, 0xAB},
       {0x50, 0xFF, 0x8A, 0x00, 0x0F, 0x31, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x12, 0xD6, 0x87, 0x00, 0x00, 0x00, 0x00, 0xC7}},
      {"serial number update", kSerial987, {0x50, 0xF2, 0x8C, 0x18, 0x69}},
      {"factory backup",
       {0xF5, 0x38, 0x26, 0x00, 0x00, 0x00, 0xAC},
       {0x50, 0xF2, 0x8C, 0x26, 0x5B}},
      {"reset all blocks", kResetAllBlocks, {0x50, 0xF2, 0x8C, 0x2E, 0x53}},
      {"restore factory block",
       {0xFF, 0x38, 0x00, 0x05, 0x27, 0x00, 0x00, 0x00, 0x9C},
       {0x50, 0xF2, 0x8C, 0x27, 0x5A}},
      {"baud rate",
       {0xFF, 0x38, 0x00, 0x09, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x01, 0xC2, 0x00, 0xD2},
       {0x50, 0xF2, 0x8C, 0x2A, 0x57}},
      {"contact read, no records",
       {0xF5, 0x9B, 0x30, 0x00, 0x00, 0x00, 0x3F},
       {0x50, 0xF5, 0x41, 0x8C, 0x30, 0x00, 0xFF, 0x0E}},
      {"contact restore", {0xF2, 0x9B, 0x36, 0x3C}, {0x50, 0xF2, 0x41, 0x50, 0x7C}},
      {"protection", kProtection1000, {0x50, 0xF2, 0x95, 0x08, 0x70}, SimTestMode::Flash},
      {"erase", eraseRequest(6, 0xE0000), {0x50, 0xF2, 0x95, 0x06, 0x72}, SimTestMode::Flash},
      {"probe", {0xF1, 0x40, 0xCE}, {}},
      {"unknown status item", {0xF2, 0x23, 0x07, 0xE3}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimRadio radio;
    radio.setMemoryBytes(0x1234, Bytes{0xAA, 0xBB, 0xCC, 0xDD});
    radio.setTestMode(c.mode);
    EXPECT_EQ(ask(radio, c.request), c.answer);
    // Every one of these is a request the radio knows, answered or not.
    EXPECT_EQ(radio.requests().size(), 1u);
    EXPECT_TRUE(radio.unrecognised().empty());
  }
}

TEST(SimRadioAnswers, LongAnswersUseTheLongFrame) {
  SimRadio radio;
  Bytes data(220);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>(i);
  }
  radio.setMemoryBytes(0x820100, data);
  const Bytes answer = ask(radio, request({0xFF, 0x11, 0x00, 0x05, 220, 0x82, 0x01, 0x00}));
  ASSERT_GE(answer.size(), 5u);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 5), (Bytes{0x50, 0xFF, 0x80, 0x00, 225}));
  const Decoded decoded = decode(answer);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.address, 0x820100u);
  EXPECT_EQ(decoded.data, data);
}

TEST(SimRadioStream, AssemblesRequestsFromAnyCutOfTheStream) {
  SimRadio radio;
  Bytes stream = {0x00, 0x13, 0x7E};  // bytes that start no request
  stream.push_back(0xFF);             // a stray long-frame start whose length is far too big
  stream.insert(stream.end(), kStatusFirmware.begin(), kStatusFirmware.end());
  stream.insert(stream.end(), kSoftReset.begin(), kSoftReset.end());
  stream.insert(stream.end(), {0xA1, 0x00, 0x5E});

  for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{5}, stream.size()}) {
    SCOPED_TRACE(cut);
    SimRadio fresh;
    Bytes answers;
    for (std::size_t at = 0; at < stream.size(); at += cut) {
      const std::size_t n = std::min(cut, stream.size() - at);
      fresh.receive(std::span(stream).subspan(at, n));
      const Bytes out = fresh.takeOutput();
      answers.insert(answers.end(), out.begin(), out.end());
    }
    EXPECT_EQ(answers, (Bytes{0x50, 0xF7, 0xA3, 0x03, 0x00, 0x52, 0x01, 0x02, 0x03, 0x0A, 0x50,
                              0xF3, 0x8C, 0x00, 0x00, 0x80}));
    EXPECT_EQ(fresh.requestKinds(),
              (std::vector<RequestKind>{RequestKind::StatusQuery, RequestKind::Reset,
                                        RequestKind::BootLoad}));
    EXPECT_TRUE(fresh.bootLoadMode());
  }
}

TEST(SimRadioStream, WrongChecksumIsNotAnsweredAndTheNextRequestIs) {
  SimRadio radio;
  Bytes bad = kStatusFirmware;
  bad.back() ^= 0x01;
  EXPECT_TRUE(ask(radio, bad).empty());
  EXPECT_EQ(radio.badChecksumFrames(), 1u);
  EXPECT_TRUE(radio.requests().empty());
  EXPECT_EQ(ask(radio, kStatusFirmware).size(), 10u);
}

TEST(SimRadioStream, FramesOfNoKnownShapeAreLeftUnanswered) {
  const Bytes frames[] = {
      request({0xFF, 0x11, 0x00, 0x04, 0x04, 0x00, 0x12}),              // memRead, address short
      request({0xFF, 0x17, 0x00, 0x06, 0x02, 0x00, 0x12, 0x34, 0xAA}),  // memWrite without 01
      request({0xFF, 0x23, 0x00, 0x02, 0x03}),                          // status query, long
      request({0xF8, 0x72, 0x01, 0x00, 0x00, 0x00, 0x11, 0x22, 0x33}),  // flash write, short
      request({0xF3, 0x18, 0x01, 0x01}),                                // empty serial number
      request({0xF5, 0x9B, 0x32, 0x00, 0x00, 0x00}),                    // unknown contact code
      request({0xF2, 0x55, 0x00}),                                      // unknown opcode
  };
  SimRadio radio;
  radio.setTestMode(SimTestMode::Flash);
  for (const Bytes& frame : frames) {
    SCOPED_TRACE(testing::PrintToString(frame));
    EXPECT_TRUE(ask(radio, frame).empty());
  }
  EXPECT_EQ(radio.unrecognised().size(), std::size(frames));
  EXPECT_TRUE(radio.requests().empty());
}

TEST(SimRadioMemory, WriteThenReadBack) {
  SimRadio radio;
  Bytes write = {0xFF, 0x17, 0x00, 5 + 3, 0x01, 0x12, 0x00, 0x00, 0x01, 0x02, 0x03};
  EXPECT_EQ(decode(ask(radio, request(write))).opcode, 0x84);
  EXPECT_EQ(radio.memoryBytes(0x120000, 4), (Bytes{0x01, 0x02, 0x03, 0x00}));
  const Decoded read = decode(ask(radio, request({0xFF, 0x11, 0x00, 0x05, 4, 0x12, 0x00, 0x00})));
  EXPECT_EQ(read.address, 0x120000u);
  EXPECT_EQ(read.data, (Bytes{0x01, 0x02, 0x03, 0x00}));
}

class SimRadioFlash : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ask(radio, kFlashTestMode).size(), 6u); }
  SimRadio radio;
};

TEST_F(SimRadioFlash, RefusedOutsideTheFlashTestMode) {
  const Bytes untouched = radio.flashBytes(0x20000, 4);
  for (SimTestMode mode : {SimTestMode::Normal, SimTestMode::Tovr}) {
    radio.setTestMode(mode);
    EXPECT_EQ(ask(radio, kProtection1000), kRefused);
    EXPECT_EQ(ask(radio, eraseRequest(6, 0x20000)), kRefused);
    EXPECT_EQ(ask(radio, writeFlashRequest(0x20000, {0, 0, 0, 0})), kRefused);
  }
  EXPECT_EQ(radio.flashBytes(0x20000, 4), untouched);
  EXPECT_FALSE(radio.protectionMode().has_value());
  // Memory commands work in any mode.
  EXPECT_EQ(ask(radio, kMemRead4At1234).size(), 12u);
}

TEST_F(SimRadioFlash, ProtectionModeIsRecorded) {
  ask(radio, kProtection1000);
  EXPECT_EQ(radio.protectionMode(), 0x1000);
}

TEST_F(SimRadioFlash, EraseClearsWholeUnits) {
  struct Case {
    std::uint8_t type;
    std::uint32_t address;
    std::uint32_t unitStart;
    std::uint32_t unitSize;
  };
  for (const Case& c : {Case{6, 0x23456, 0x20000, 0x10000}, Case{4, 0x84123, 0x84000, 0x1000}}) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(decode(ask(radio, eraseRequest(c.type, c.address))).data, Bytes{c.type});
    const Bytes unit = radio.flashBytes(c.unitStart, c.unitSize);
    EXPECT_TRUE(std::all_of(unit.begin(), unit.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(radio.flashBytes(c.unitStart - 1, 1)[0], SimRadio::initialFlashByte(c.unitStart - 1));
    EXPECT_EQ(radio.flashBytes(c.unitStart + c.unitSize, 1)[0],
              SimRadio::initialFlashByte(c.unitStart + c.unitSize));
  }
}

TEST_F(SimRadioFlash, ProgramsLikeNorFlashAndCountsWritesOverUnerasedBytes) {
  ask(radio, eraseRequest(6, 0x10000));
  EXPECT_EQ(ask(radio, writeFlashRequest(0x10000, {0x0F, 0xAB})),
            (Bytes{0x50, 0xF2, 0x95, 0x01, 0x77}));
  EXPECT_EQ(radio.flashBytes(0x10000, 2), (Bytes{0x0F, 0xAB}));
  EXPECT_EQ(radio.flashOverwrites(), 0u);

  // Programming can only clear bits.
  ask(radio, writeFlashRequest(0x10000, {0xF0}));
  EXPECT_EQ(radio.flashBytes(0x10000, 1), Bytes{0x00});
  EXPECT_EQ(radio.flashOverwrites(), 1u);

  // A piece written where nothing was erased shows in the count.
  const std::uint32_t unerased = 0x150000;
  const Bytes before = radio.flashBytes(unerased, 3);
  ask(radio, writeFlashRequest(unerased, {0xFF, 0xFF, 0x00}));
  EXPECT_EQ(radio.flashBytes(unerased, 3), (Bytes{before[0], before[1], 0x00}));
  EXPECT_EQ(radio.flashOverwrites(), 4u);
}

TEST_F(SimRadioFlash, FullPieceOf4096BytesIsTaken) {
  ask(radio, eraseRequest(6, 0x10000));
  const Bytes data(4096, 0x5A);
  const Bytes frame = writeFlashRequest(0x10002, data);
  ASSERT_EQ(frame.size(), 4105u);
  EXPECT_EQ(decode(ask(radio, frame)).opcode, 0x95);
  EXPECT_EQ(radio.flashBytes(0x10002, 4096), data);
}

TEST_F(SimRadioFlash, CommandsBeyondTheFlashAreRefused) {
  EXPECT_EQ(ask(radio, writeFlashRequest(SimRadio::kFlashSize - 1, {0x00, 0x00})), kRefused);
  EXPECT_EQ(ask(radio, eraseRequest(6, SimRadio::kFlashSize)), kRefused);
}

TEST(SimRadioDynamicBlock, FlashEraseOfTheLayoutsDynUnitWipesIt) {
  struct Case {
    std::uint8_t layout;
    std::uint32_t eraseAt;
    bool wipes;
  };
  const Case cases[] = {
      {0, 0x70000, true},  {1, 0xE0000, true},  {2, 0x180000, true}, {1, 0xE8000, true},
      {1, 0x70000, false}, {2, 0xE0000, false}, {7, 0xE0000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "layout " << int{c.layout} << " at " << c.eraseAt);
    SimRadioConfig config;
    config.flashLayout = c.layout;
    SimRadio radio(config);
    radio.setTestMode(SimTestMode::Flash);
    const Bytes before = radio.memoryBytes(config.dynStart, config.dynSize);
    EXPECT_EQ(before[1], SimRadio::initialDynByte(1));
    ask(radio, eraseRequest(6, c.eraseAt));
    EXPECT_EQ(radio.memoryBytes(config.dynStart, config.dynSize),
              c.wipes ? Bytes(config.dynSize, 0xFF) : before);
  }
}

TEST(SimRadioDynamicBlock, ResetAllBlocksZeroesItAndDropsTheContacts) {
  SimRadio radio;
  radio.setContacts({Bytes(20, 1), Bytes(20, 2)});
  ask(radio, kResetAllBlocks);
  EXPECT_EQ(radio.memoryBytes(0x820000, 0x1000), Bytes(0x1000, 0x00));
  EXPECT_TRUE(radio.contacts().empty());
  EXPECT_EQ(radio.blockResetCount(), 1);
  EXPECT_EQ(radio.factoryRestoreCount(), 0);
}

Bytes contactRecord(std::uint8_t kind, std::uint8_t tag, std::size_t size) {
  Bytes record(size, tag);
  record[7] = kind;
  return record;
}

TEST(SimRadioContacts, ReadAnswersEachRecordWithTheTotal) {
  SimRadio radio;
  const std::vector<Bytes> records = {contactRecord(1, 0xA0, 24), contactRecord(4, 0xB0, 8),
                                      contactRecord(2, 0xC0, 30)};
  radio.setContacts(records);
  for (std::uint8_t index = 0; index < records.size(); ++index) {
    SCOPED_TRACE(int{index});
    const Decoded answer = decode(ask(radio, contactRequest(0x30, {0x00, index, 3})));
    ASSERT_TRUE(answer.ok);
    EXPECT_EQ(answer.opcode, 0x41);
    Bytes expected = records[index];
    expected.insert(expected.begin(), {0x8C, 0x30, index, 3});
    EXPECT_EQ(answer.data, expected);
  }
}

TEST(SimRadioContacts, WritesFillTheListAtTheirPositions) {
  SimRadio radio;
  radio.setContacts({contactRecord(3, 0x11, 20)});  // an old list, replaced by the writes
  const Bytes first = contactRecord(4, 0x22, 8);    // 11 data bytes: a short frame
  const Bytes second = contactRecord(1, 0x33, 24);  // a long frame
  Bytes data = {0x00, 2, 2};
  data.insert(data.end(), second.begin(), second.end());
  ASSERT_EQ(contactRequest(0x31, data)[0], 0xFF);
  EXPECT_EQ(ask(radio, contactRequest(0x31, data)), acked({0xF4, 0x41, 0x50, 0x31, 2}));
  data = {0x00, 1, 2};
  data.insert(data.end(), first.begin(), first.end());
  ASSERT_EQ(contactRequest(0x31, data)[0], 0xFD);
  EXPECT_EQ(decode(ask(radio, contactRequest(0x31, data))).data, (Bytes{0x50, 0x31, 1}));
  EXPECT_EQ(radio.contacts(), (std::vector<Bytes>{first, second}));

  // Position 0 and positions past the total do not exist.
  for (std::uint8_t index : {0, 3}) {
    EXPECT_EQ(decode(ask(radio, contactRequest(0x31, {0x00, index, 2, 0x01}))).data,
              (Bytes{0x00, 0x31, index}));
  }
  EXPECT_EQ(radio.contacts().size(), 2u);
}

TEST(SimRadioModes, ResetsLeaveTestModeAndAnswerTheStatusWord) {
  for (const Bytes& reset : {kHardReset, kSoftReset}) {
    SimRadioConfig config;
    config.resetStatusWord = 0x0280;
    SimRadio radio(config);
    ask(radio, kFlashTestMode);
    EXPECT_EQ(radio.testMode(), SimTestMode::Flash);
    EXPECT_EQ(ask(radio, reset), (Bytes{0x50, 0xF3, 0x8C, 0x02, 0x80, 0xFE}));
    EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
    ask(radio, kTovrTestMode);
    EXPECT_EQ(radio.testMode(), SimTestMode::Tovr);
  }
}

TEST(SimRadioModes, LayoutIsToldInTheFlashTestModeAnswer) {
  SimRadioConfig config;
  config.flashLayout = 2;
  SimRadio radio(config);
  EXPECT_EQ(decode(ask(radio, kFlashTestMode)).data, (Bytes{0x08, 0x02}));
}

TEST(SimRadioModes, UnknownTypesAreLoggedButNotAnswered) {
  SimRadio radio;
  radio.setTestMode(SimTestMode::Flash);
  EXPECT_TRUE(ask(radio, request({0xFF, 0x10, 0x00, 0x02, 0x05})).empty());
  EXPECT_TRUE(ask(radio, request({0xF4, 0x22, 0x03, 0x00, 0x00})).empty());
  EXPECT_TRUE(ask(radio, eraseRequest(5, 0x20000)).empty());
  EXPECT_EQ(radio.testMode(), SimTestMode::Flash);
  EXPECT_EQ(radio.requestKinds(),
            (std::vector<RequestKind>{RequestKind::Reset, RequestKind::TestMode,
                                      RequestKind::EraseFlash}));
}

TEST(SimRadioModes, SerialNumberUpdateChangesWhatTheQueryAnswers) {
  SimRadio radio;
  ask(radio, kSerial987);
  EXPECT_EQ(ask(radio, {0xF2, 0x23, 0x01, 0xE9}),
            acked({0xF6, 0xA3, 0x01, 0x00, 0x39, 0x38, 0x37}));
}

TEST(SimRadioModes, FactoryBackupAndContactRestoreAreRecorded) {
  SimRadio radio;
  ask(radio, {0xF5, 0x38, 0x26, 0x00, 0x00, 0x00, 0xAC});
  ask(radio, {0xF2, 0x9B, 0x36, 0x3C});
  EXPECT_TRUE(radio.factoryBackedUp());
  EXPECT_EQ(radio.contactRestoreCount(), 1);
}

TEST(SimRadioModes, BootLoadSilencesTheRadioUntilTheTestEndsIt) {
  SimRadio radio;
  EXPECT_TRUE(ask(radio, {0xA1, 0x00, 0x5E}).empty());
  EXPECT_TRUE(radio.bootLoadMode());
  EXPECT_TRUE(ask(radio, kStatusFirmware).empty());
  EXPECT_EQ(radio.count(RequestKind::StatusQuery), 0);
  radio.setBootLoadMode(false);
  EXPECT_EQ(ask(radio, kStatusFirmware).size(), 10u);
}

// In boot-load mode the line is the keypad boot-loader's: a programming line, in any pieces,
// gives the keypad its version, is answered and restarts the radio, which then answers TOVR
// again; anything else leaves it in boot-load mode, unanswered.
TEST(SimRadioModes, KeypadProgrammingEndsBootLoad) {
  const auto text = [](const std::string& line) { return Bytes(line.begin(), line.end()); };
  const Bytes keypadQuery = {0xF2, 0x23, 0x08, 0xE2};
  SimRadio radio;
  ask(radio, kFlashTestMode);
  ask(radio, {0xA1, 0x00, 0x5E});
  ASSERT_TRUE(radio.bootLoadMode());
  for (const char* ignored : {"KEYPAD\n", "KEYPAD 1.2.3\n", "PROGRAM R01.01.00\n",
                              "KEYPAD R01.01.00", "\xF2\x23\x08\xE2"}) {
    radio.receive(text(ignored), SimRadio::kDefaultBaud);
  }
  EXPECT_TRUE(radio.bootLoadMode());
  EXPECT_EQ(radio.keypadProgrammingCount(), 0);
  EXPECT_TRUE(radio.takeOutput().empty());
  // A line is taken whole: the bytes after its version spoil it, and the next line programs.
  radio.receive(text("\nKEYPAD R01"), SimRadio::kDefaultBaud);
  // The request that comes in the same piece as the end of the line is the restarted radio's.
  Bytes rest = text(".01.00\r\n");
  rest.insert(rest.end(), keypadQuery.begin(), keypadQuery.end());
  radio.receive(rest, SimRadio::kDefaultBaud);
  EXPECT_FALSE(radio.bootLoadMode());
  EXPECT_EQ(radio.keypadProgrammingCount(), 1);
  EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
  Bytes answers = text("OK\n");
  const Bytes keypad = acked({0xF7, 0xA3, 0x08, 0x00, 0x52, 0x01, 0x01, 0x00});
  answers.insert(answers.end(), keypad.begin(), keypad.end());
  EXPECT_EQ(radio.takeOutput(), answers);
}

TEST(SimRadioBaud, OnlyBytesAtTheRadiosRateAreUnderstood) {
  SimRadio radio;
  radio.receive(kStatusFirmware, 16406);
  EXPECT_TRUE(radio.takeOutput().empty());
  EXPECT_TRUE(radio.requests().empty());

  // The rate switch is answered at the old rate, then takes effect.
  radio.receive(request({0xFF, 0x38, 0x00, 0x09, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x01, 0xC2, 0x00}),
                57600);
  EXPECT_EQ(decode(radio.takeOutput()).data, Bytes{0x2A});
  EXPECT_EQ(radio.currentBaud(), 115200u);
  radio.receive(kStatusFirmware, 57600);
  EXPECT_TRUE(radio.takeOutput().empty());
  radio.receive(kStatusFirmware, 115200);
  EXPECT_EQ(radio.takeOutput().size(), 10u);

  // A reset brings the radio back to 57600.
  radio.receive(kSoftReset, 115200);
  EXPECT_EQ(radio.takeOutput().size(), 6u);
  EXPECT_EQ(radio.currentBaud(), 57600u);
}

TEST(SimRadioFaults, EachFaultShapesTheAnswerAndDecidesWhetherTheRequestRuns) {
  struct Case {
    FaultKind fault;
    Bytes answer;
    bool carriedOut;
    bool disconnects;
    bool pcAccepts;
  };
  const Case cases[] = {
      {FaultKind::NoAcknowledge, {0x00}, false, false, false},
      {FaultKind::BadChecksum, {0x50, 0xF2, 0x8C, 0x18, 0x68}, true, false, false},
      {FaultKind::WrongOpcode, {0x50, 0xF2, 0x8D, 0x18, 0x68}, true, false, true},
      {FaultKind::JunkBeforeFrame,
       {0x50, 0x00, 0x7E, 0x13, 0xF2, 0x8C, 0x18, 0x69},
       true,
       false,
       true},
      {FaultKind::Silence, {}, false, false, false},
      {FaultKind::Disconnect, {0x50, 0xF2, 0x8C}, false, true, false},
      {FaultKind::Refused, {0x50, 0xF3, 0x8D, 0x00, 0x00, 0x7F}, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(faultKindName(c.fault));
    SimRadio radio;
    radio.setFaultPlan(FaultPlan().add(RequestKind::SerialNumber, 1, c.fault));
    const Bytes answer = ask(radio, kSerial987);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(decode(answer).ok, c.pcAccepts);
    EXPECT_EQ(radio.config().serialNumber == Bytes({0x39, 0x38, 0x37}), c.carriedOut);
    EXPECT_EQ(radio.takeDisconnect(), c.disconnects);
    EXPECT_EQ(radio.count(RequestKind::SerialNumber), 1);
  }
}

TEST(SimRadioFaults, DisconnectDropsWhatFollowsInTheSameRun) {
  SimRadio radio;
  radio.setFaultPlan(FaultPlan().add(RequestKind::StatusQuery, 1, FaultKind::Disconnect));
  Bytes two = kStatusFirmware;
  two.insert(two.end(), kSoftReset.begin(), kSoftReset.end());
  radio.receive(two);
  EXPECT_EQ(radio.count(RequestKind::Reset), 0);
}

TEST(SimRadioFaults, OccurrencesAreCountedPerKind) {
  SimRadio radio;
  radio.setTestMode(SimTestMode::Flash);
  radio.setFaultPlan(FaultPlan()
                         .add(RequestKind::WriteFlash, 2, FaultKind::Silence, 2)
                         .addEvery(RequestKind::EraseFlash, FaultKind::NoAcknowledge));
  std::vector<bool> answered;
  for (int i = 0; i < 5; ++i) {
    answered.push_back(!ask(radio, writeFlashRequest(0x30000, {0xFF})).empty());
    // Requests of other kinds do not move the count.
    ask(radio, kStatusFirmware);
  }
  EXPECT_EQ(answered, (std::vector<bool>{true, false, false, true, true}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ask(radio, eraseRequest(6, 0x30000)), Bytes{0x00});
  }

  // A cleared log counts afresh.
  radio.clearLog();
  EXPECT_FALSE(ask(radio, writeFlashRequest(0x30000, {0xFF})).empty());
  EXPECT_TRUE(ask(radio, writeFlashRequest(0x30000, {0xFF})).empty());
}

TEST(SimRadioLog, KeepsEveryRecognisedRequestInOrder) {
  SimRadio radio;
  ask(radio, {0xF1, 0x40, 0xCE});
  ask(radio, kStatusFirmware);
  ask(radio, kSoftReset);
  ask(radio, kStatusFirmware);
  EXPECT_EQ(radio.requestKinds(),
            (std::vector<RequestKind>{RequestKind::Probe, RequestKind::StatusQuery,
                                      RequestKind::Reset, RequestKind::StatusQuery}));
  EXPECT_EQ(radio.count(RequestKind::StatusQuery), 2);
  const auto queries = radio.requestsOf(RequestKind::StatusQuery);
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries[1].bytes, kStatusFirmware);
}

TEST(SimRadioLog, ObserverSeesEachRequestWithItsFault) {
  SimRadio radio;
  radio.setFaultPlan(FaultPlan().add(RequestKind::Reset, 1, FaultKind::Silence));
  std::vector<std::pair<RequestKind, std::optional<FaultKind>>> seen;
  radio.setRequestObserver([&seen](const LoggedRequest& r, std::optional<FaultKind> fault) {
    seen.emplace_back(r.kind, fault);
  });
  ask(radio, kSoftReset);
  ask(radio, kStatusFirmware);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(RequestKind::Reset, std::optional(FaultKind::Silence)));
  EXPECT_EQ(seen[1], std::make_pair(RequestKind::StatusQuery, std::optional<FaultKind>()));
}

}  // namespace
}  // namespace orvik
