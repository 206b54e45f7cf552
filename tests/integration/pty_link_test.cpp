// The PC side of the radio link over a real pseudo-terminal and the tty backend, with the
// simulated radio served at the other end. Waits here are real I/O time-outs of at most a few
// hundred milliseconds.
#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include "exec/radio_manager.h"
#include "link/tty_cable_driver.h"
#include "sim/pty_radio_server.h"
#include "sim/sim_radio.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

class PtyLinkTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    ASSERT_TRUE(server.open()) << server.error();
    serving = std::jthread([this](std::stop_token stop) { server.serve(stop); });
    driver = makeTtyCableDriver(server.slavePath());
    manager = std::make_unique<RadioManager>(*driver, systemClock());
    info = manager->radioInfo();
  }
  void TearDown() override {
    manager.reset();
    serving.request_stop();
    serving.join();
    ErrorTextTest::TearDown();
  }

  SimRadio radio;
  PtyRadioServer server{radio};
  std::jthread serving;
  std::unique_ptr<CableDriver> driver;
  std::unique_ptr<RadioManager> manager;
  RadioInfo* info = nullptr;
  std::array<std::uint8_t, TOVR::kReceiveBufferSize> data{};
  std::uint8_t opcode = 0;
};

TEST_F(PtyLinkTest, ReadsTheIdentityThroughTheTtyPath) {
  ASSERT_TRUE(manager->connect(true));
  EXPECT_EQ(manager->selectedIndex(), 0);
  EXPECT_FALSE(info->engine().echoOn());
  ASSERT_TRUE(info->readIdentity());
  EXPECT_EQ(RadioInfo::modelText(info->modelNumber), "LA26CKN9AR1");
  EXPECT_EQ(RadioInfo::serialText(info->serialBytes()), "1234ABC5678");
  EXPECT_EQ(RadioInfo::versionRecordText(info->codeplugVersionRecord), "R01.02.00");
  EXPECT_TRUE(manager->disconnect());
  // The radio is still there for the next connection.
  ASSERT_TRUE(manager->connect(true));
  EXPECT_TRUE(info->readIdentity());
}

TEST_F(PtyLinkTest, LargeFramesAndRetriesCrossThePty) {
  ASSERT_TRUE(manager->connect(true));
  TOVR& tovr = info->engine();
  ASSERT_GE(tovr.requestTestMode(8, 0, 0, opcode, data), 0);
  std::uint32_t address = 0x20000;
  ASSERT_GE(tovr.eraseFlash(6, address, opcode, data), 0);
  Bytes piece(4096);
  std::iota(piece.begin(), piece.end(), 3);
  address = 0x20000;
  EXPECT_GE(tovr.writeFlash(piece, address, opcode, data), 0);
  EXPECT_EQ(radio.flashBytes(0x20000, 4096), piece);

  // A silent first answer costs one read time-out, then the retry gets through.
  radio.setFaultPlan(FaultPlan().add(RequestKind::MemRead, 1, FaultKind::Silence));
  radio.setMemoryBytes(0x820000, Bytes(220, 0x5A));
  address = 0x820000;
  EXPECT_EQ(tovr.memRead(220, address, opcode, data), 220);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 220), Bytes(220, 0x5A));
  EXPECT_TRUE(testing::errorLines().empty());
}

TEST_F(PtyLinkTest, EchoingCableOverThePty) {
  server.setEcho(true);
  ASSERT_TRUE(manager->connect(true));
  EXPECT_TRUE(info->engine().echoOn());
  EXPECT_TRUE(info->readIdentity());
}

}  // namespace
}  // namespace orvik
