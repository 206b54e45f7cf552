#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/tovr_frame.h"
#include "tests/link/tovr_test_support.h"

namespace orvik {
namespace {

using testing::errorLines;
using testing::ScriptedCableDriver;
using testing::TovrTest;
using Call = ScriptedCableDriver::Call;
using Bytes = std::vector<std::uint8_t>;

TEST(TovrFrame, ChecksumMakesEveryFrameSumToFF) {
  EXPECT_EQ(TOVR::checksum(2, Bytes{0xF1, 0x40}.data()), 0xCE);
  EXPECT_EQ(shortFrame(0x23, Bytes{0x03}), (Bytes{0xF2, 0x23, 0x03, 0xE7}));
  EXPECT_EQ(longFrame(0x10, Bytes{0x01}), (Bytes{0xFF, 0x10, 0x00, 0x02, 0x01, 0xED}));
  EXPECT_EQ(requestOpcode(Bytes{0xF2, 0x23}), 0x23);
  EXPECT_EQ(requestOpcode(Bytes{0xA1, 0x00, 0x5E}), 0x0A);
}

// One response fed to exchange, and what comes out.
struct ResponseCase {
  const char* name;
  Bytes response;
  int result;
  std::uint8_t opcode;
  std::uint32_t address;
  Bytes data;
};

void PrintTo(const ResponseCase& c, std::ostream* os) {
  *os << c.name;
}

class TovrResponse : public testing::TovrTest,
                     public ::testing::WithParamInterface<ResponseCase> {};

TEST_P(TovrResponse, ParsesAsExpected) {
  const ResponseCase& c = GetParam();
  answer(c.response);
  address = 0xDEADBEEF;
  const Bytes request{0xF2, 0x23, 0x03, 0xE7};
  EXPECT_EQ(tovr.exchange(request, address, opcode, data), c.result);
  EXPECT_EQ(opcode, c.opcode);
  EXPECT_EQ(address, c.address);
  if (c.result > 0) {
    EXPECT_EQ(Bytes(data.begin(), data.begin() + c.result), c.data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Responses, TovrResponse,
    ::testing::Values(
        ResponseCase{"SkipsBytesBeforeTheFrame",
                     {0x50, 0x00, 0x7E, 0xF3, 0x8C, 0x01, 0x02, 0x7D},
                     2,
                     0x8C,
                     0,
                     {0x01, 0x02}},
        ResponseCase{
            "NoAcknowledgementFailsAtOnce", {0xFF, 0x8C, 0x00, 0x00, 0x74}, -1, 0x60, 0, {}},
        ResponseCase{"LongFrameOfLengthZeroHasOnlyItsChecksum",
                     {0x50, 0xFF, 0x8C, 0x00, 0x00, 0x74},
                     0,
                     0x8C,
                     0,
                     {}},
        ResponseCase{"ShortFrame", {0x50, 0xF3, 0x8C, 0x01, 0x02, 0x7D}, 2, 0x8C, 0, {0x01, 0x02}},
        ResponseCase{
            "AddressCarryingFrame",
            {0x50, 0xFF, 0x80, 0x00, 0x09, 0x00, 0x00, 0x12, 0x34, 0xAA, 0xBB, 0xCC, 0xDD, 0x23},
            4,
            0x80,
            0x1234,
            {0xAA, 0xBB, 0xCC, 0xDD}},
        ResponseCase{
            "FlippedChecksumBitFails", {0x50, 0xF3, 0x8C, 0x01, 0x02, 0x7C}, -1, 0x8C, 0, {}},
        ResponseCase{"TruncatedFrameFails", {0x50, 0xF3, 0x8C, 0x01}, -1, 0x8C, 0, {}},
        ResponseCase{"SilenceFails", {}, -1, 0x00, 0, {}},
        ResponseCase{
            "ShortFrameWithoutRoomForItsChecksumFails", {0x50, 0xF0, 0x8C, 0x83}, -1, 0x8C, 0, {}},
        ResponseCase{"AddressFrameTooShortForItsAddressFails",
                     {0x50, 0xF3, 0x84, 0x00, 0x00, 0x88},
                     -1,
                     0x84,
                     0,
                     {}}),
    [](const ::testing::TestParamInfo<ResponseCase>& info) { return info.param.name; });

TEST_F(TovrTest, RequestGoesOutAfterPurgeWithTheOpcodesTiming) {
  struct Timing {
    Bytes request;
    std::uint32_t readTimeout;
    std::uint32_t writeTimeout;
  };
  const Timing cases[] = {
      {{0xFF, 0x10, 0x00, 0x02, 0x01, 0xED}, 600, 200},                     // reset
      {{0xF2, 0x23, 0x03, 0xE7}, 100, 300},                                 // status query
      {{0xFF, 0x72, 0x00, 0x05, 0x06, 0x01, 0x00, 0x00, 0x00}, 300, 3000},  // flash command
      {{0xF4, 0x22, 0x08, 0x00, 0x00, 0x00}, 250, 300},                     // anything else
  };
  for (const Timing& t : cases) {
    driver.purgeMasks.clear();
    answerShort(0x8C, {});
    tovr.exchange(t.request, address, opcode, data);
    EXPECT_EQ(driver.readTimeoutMs, t.readTimeout);
    EXPECT_EQ(driver.writeTimeoutMs, t.writeTimeout);
    // Both queues are purged before the request, and the write loop adds its own purge.
    EXPECT_EQ(driver.purgeMasks.front(), FT_PURGE_RX | FT_PURGE_TX);
  }
  // A reset-all-blocks or baud-rate parameter write keeps the time-outs it finds.
  port.setTimeouts(77, 88);
  answerShort(0x8C, {});
  tovr.exchange(Bytes{0xFF, 0x38, 0x00, 0x05, 0x2E, 0x00, 0x00, 0x00, 0x95}, address, opcode, data);
  EXPECT_EQ(driver.readTimeoutMs, 77u);
  EXPECT_EQ(driver.writeTimeoutMs, 88u);
}

// How long a silent radio is waited for, on the virtual clock, and what remains of the wait
// rules after the exchange.
TEST_F(TovrTest, PatienceForTheFirstBytesAndForTheRest) {
  struct Wait {
    const char* name;
    Bytes request;
    Bytes partialAnswer;
    std::int64_t waitedMs;
  };
  const Wait cases[] = {
      // The acknowledgement is awaited responseTrials times the read time-out.
      {"reset", {0xFF, 0x10, 0x00, 0x02, 0x01, 0xED}, {}, 4 * 600},
      {"query", {0xF2, 0x23, 0x03, 0xE7}, {}, 1 * 100},
      {"other", {0xF4, 0x22, 0x08, 0x00, 0x00, 0x00}, {}, 2 * 250},
      // After a skipped byte or the opcode, every later byte gets the full trials.
      {"reset after junk", {0xFF, 0x10, 0x00, 0x02, 0x01, 0xED}, {0x50, 0x00}, 500 * 600},
      {"reset after opcode", {0xFF, 0x10, 0x00, 0x02, 0x01, 0xED}, {0x50, 0xFF, 0x8C}, 500 * 600},
      // The frame start itself is still awaited with the short patience.
      {"reset after ack", {0xFF, 0x10, 0x00, 0x02, 0x01, 0xED}, {0x50}, 4 * 600},
  };
  for (const Wait& w : cases) {
    SCOPED_TRACE(w.name);
    answer(w.partialAnswer);
    const auto before = clock.now();
    EXPECT_EQ(tovr.exchange(w.request, address, opcode, data), -1);
    EXPECT_EQ((clock.now() - before).count(), w.waitedMs);
    EXPECT_EQ(tovr.trials(), 2);
    EXPECT_EQ(tovr.responseTrials(), 2);
  }
}

TEST_F(TovrTest, ADribblingRadioCannotHoldAnExchangeBeyondItsTime) {
  // An acknowledgement, then one stray byte every 20 ms, each well within the read time-out.
  Bytes dribble(1 + 4000, 0x00);
  dribble[0] = 0x50;
  answer(dribble);
  driver.maxBytesPerRead = 1;
  driver.readDelay = std::chrono::milliseconds(20);
  const auto before = clock.now();
  EXPECT_EQ(tovr.exchange(Bytes{0xF4, 0x22, 0x08, 0x00, 0x00, 0x00}, address, opcode, data), -1);
  // The longest answer on the line (714 ms at 57600 baud) plus the waits for the two first
  // bytes and one more gap (6 x 250 ms), instead of 80 s of stray bytes.
  EXPECT_LE(clock.now() - before, std::chrono::milliseconds(714 + 1 + 1500 + 20));
  EXPECT_EQ(errorLines(), std::vector<std::string>{"3:Error:the answer did not end in time."});
}

TEST_F(TovrTest, FailedReadLeavesItsLine) {
  EXPECT_EQ(tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, data), -1);
  EXPECT_EQ(errorLines(),
            std::vector<std::string>{"3:Error:failed to read port for 1 bytes after 1 trials."});
}

TEST_F(TovrTest, RefusesResponsesLargerThanItsBuffers) {
  // Data beyond the caller's buffer.
  answerLong(0x8C, Bytes(100, 0x11));
  std::array<std::uint8_t, 16> small{};
  EXPECT_EQ(tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, small), -1);
  // A frame whose length field exceeds the receive buffer.
  Bytes huge{0x50, 0xFF, 0x8C, 0x20, 0x00};
  huge.resize(5000, 0x22);
  answer(huge);
  EXPECT_EQ(tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, data), -1);
  EXPECT_EQ(tovr.received().size(), TOVR::kReceiveBufferSize);
  // Endless bytes that start no frame.
  answer(Bytes(5000, 0x00));
  answers.back()[0] = 0x50;
  EXPECT_EQ(tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, data), -1);
}

TEST_F(TovrTest, UnusablePortStartsNoExchange) {
  port.setLastStatus(FT_IO_ERROR);
  opcode = 0x77;
  EXPECT_EQ(tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, data), -1);
  EXPECT_EQ(opcode, 0x77);  // the request was not sent, so the caller's value stays
  EXPECT_EQ(writes(), 0);
  EXPECT_TRUE(errorLines().empty());
}

TEST_F(TovrTest, VanishingCableEndsTheExchange) {
  answer({0x50, 0xF3, 0x8C});
  driver.failNext(Call::Read, {FT_OK, FT_OK, FT_OK, FT_IO_ERROR, FT_IO_ERROR});
  EXPECT_EQ(tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, data), -1);
  EXPECT_FALSE(port.usable());
  // And the next exchange is refused until the status is cleared.
  EXPECT_EQ(tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, data), -1);
}

TEST_F(TovrTest, EchoingCableHasTheRequestReadBackFirst) {
  // Probe: the echo of F1 40 CE comes back.
  port.setBaudRate(TOVR::kProbeBaudRate);
  driver.responder = [this](std::span<const std::uint8_t> bytes) { driver.arrive(bytes); };
  EXPECT_EQ(tovr.probeCableMode(), TOVR::kProbeEcho);
  EXPECT_TRUE(tovr.echoOn());
  EXPECT_EQ(driver.readTimeoutMs, 20u);

  driver.responder = [this](std::span<const std::uint8_t> bytes) {
    driver.arrive(bytes);  // the echo
    driver.arrive({0x50, 0xF3, 0x8C, 0x01, 0x02, 0x7D});
  };
  const Bytes request{0xFF, 0x11, 0x00, 0x05, 0x04, 0x00, 0x12, 0x34, 0xA0};
  EXPECT_EQ(tovr.exchange(request, address, opcode, data), 2);
  EXPECT_EQ(data[0], 0x01);
  EXPECT_EQ(data[1], 0x02);
}

TEST_F(TovrTest, ProbeTellsEchoFromSilenceFromNoise) {
  // Silence: no echo, with the read failure line for 3 bytes.
  EXPECT_EQ(tovr.probeCableMode(), TOVR::kProbeNoEcho);
  EXPECT_FALSE(tovr.echoOn());
  EXPECT_EQ(errorLines(),
            std::vector<std::string>{"3:Error:failed to read port for 3 bytes after 2 trials."});
  EXPECT_EQ(driver.written, (Bytes{0xF1, 0x40, 0xCE}));

  // Three bytes that are not the echo, every time: undecided after the attempts.
  driver.responder = [this](std::span<const std::uint8_t>) { driver.arrive({1, 2, 3}); };
  EXPECT_EQ(tovr.probeCableMode(), TOVR::kProbeUndecided);
  EXPECT_EQ(driver.count(Call::Write), 3);

  // A closed port decides nothing and sends nothing.
  port.close();
  EXPECT_EQ(tovr.probeCableMode(), TOVR::kProbeUndecided);
  EXPECT_EQ(driver.count(Call::Write), 3);
}

TEST_F(TovrTest, SendOnlyWritesThreeBytesAndWaitsAMillisecond) {
  const std::array<std::uint8_t, 3> frame{0xA1, 0x00, 0x5E};
  EXPECT_EQ(tovr.sendOnly(frame), 3);
  EXPECT_EQ(driver.written, (Bytes{0xA1, 0x00, 0x5E}));
  EXPECT_EQ(clock.sleeps(), std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(1)});

  // A write that fails is tried again; when every try fails, nothing more is sent.
  driver.failNext(Call::Write, {FT_IO_ERROR, FT_IO_ERROR});
  const int writesBefore = driver.count(Call::Write);
  EXPECT_EQ(tovr.sendOnly(frame), -1);
  EXPECT_EQ(driver.count(Call::Write) - writesBefore, 2);
  EXPECT_EQ(errorLines(),
            std::vector<std::string>{"3:Error:failed to write port with 3 bytes after 2 trials."});
}

TEST_F(TovrTest, TraceRecordsFramesBothWays) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("orvik-trace-" + std::to_string(::getpid()) + ".log");
  std::filesystem::remove(file);
  FrameTrace trace;
  ASSERT_TRUE(trace.enable(file));
  tovr.setTrace(&trace);
  answer({0x50, 0xF3, 0x8C, 0x01, 0x02, 0x7D});
  tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, data);
  tovr.exchange(Bytes{0xF2, 0x23, 0x03, 0xE7}, address, opcode, data);
  trace.disable();
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  const std::string lines = text.str();
  EXPECT_NE(lines.find("] TX F2 23 03 E7\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("] RX 50 F3 8C 01 02 7D\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("] RX   (failed)\n"), std::string::npos) << lines;
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace orvik
