// The PC side of the radio link against the simulated radio, in process: every wait is
// counted on the virtual clock.
#include <gtest/gtest.h>

#include <numeric>

#include "exec/radio_manager.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using testing::errorLines;

class RadioLinkTest : public testing::ErrorTextTest {
 protected:
  void connect() {
    ASSERT_TRUE(manager.connect(true));
    EXPECT_EQ(manager.selectedIndex(), 0);
    removeErrors(ErrorCategory::OK);
  }

  SimRadio radio;
  VirtualClock clock;
  SimCableDriver cable{radio, clock};
  RadioManager manager{cable, clock};
  RadioInfo& info = *manager.radioInfo();
  TOVR& tovr = info.engine();
  std::array<std::uint8_t, TOVR::kReceiveBufferSize> data{};
  std::uint8_t opcode = 0;
};

TEST_F(RadioLinkTest, ConnectsProbesAndReadsTheIdentity) {
  ASSERT_TRUE(manager.connect(true));
  EXPECT_TRUE(info.connected);
  EXPECT_EQ(info.portIndex, 0);
  EXPECT_EQ(cable.baudRate(), 57600u);
  EXPECT_FALSE(tovr.echoOn());
  // The radio does not answer the probe, which leaves its read failure behind.
  EXPECT_EQ(errorLines(), Lines{"3:Error:failed to read port for 3 bytes after 2 trials."});
  const Bytes written = cable.written();
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 3), (Bytes{0xF1, 0x40, 0xCE}));

  ASSERT_TRUE(info.readIdentity());
  EXPECT_EQ(RadioInfo::modelText(info.modelNumber), "LA26CKN9AR1");
  EXPECT_EQ(info.regionCode, 0);
  EXPECT_EQ(RadioInfo::serialText(info.serialBytes()), "1234ABC5678");
  EXPECT_EQ(RadioInfo::versionRecordText(info.firmwareVersionRecord), "R01.02.03");
  EXPECT_EQ(RadioInfo::versionRecordText(info.codeplugVersionRecord), "R01.02.00");
  EXPECT_EQ(RadioInfo::versionRecordText(info.keypadVersionRecord), "R01.00.00");
  EXPECT_EQ(RadioInfo::privateIdText(info.privateId), "1234567");
  EXPECT_EQ(radio.requestKinds(),
            (std::vector<RequestKind>{RequestKind::StatusQuery, RequestKind::StatusQuery,
                                      RequestKind::StatusQuery, RequestKind::StatusQuery,
                                      RequestKind::StatusQuery, RequestKind::SoftpotRead,
                                      RequestKind::StatusQuery}));

  EXPECT_TRUE(manager.disconnect());
  EXPECT_FALSE(info.connected);
  EXPECT_FALSE(info.identityValid);
  EXPECT_EQ(info.portIndex, -1);
  EXPECT_FALSE(cable.isOpen());
}

TEST_F(RadioLinkTest, EchoingCableIsRecognisedAndStillCarriesExchanges) {
  cable.setEcho(true);
  connect();
  EXPECT_TRUE(tovr.echoOn());
  EXPECT_TRUE(info.readIdentity());
  EXPECT_EQ(RadioInfo::versionRecordText(info.firmwareVersionRecord), "R01.02.03");
}

TEST_F(RadioLinkTest, NoCableAttached) {
  cable.setDevices({});
  EXPECT_FALSE(manager.connect(true));
  EXPECT_EQ(manager.selectedIndex(), -1);
  EXPECT_TRUE(errorLines().empty());
}

// One bad answer to the first identity item is made good by the retry; two in a row are not,
// unless the answer was good after all.
TEST_F(RadioLinkTest, RetriesRideOutOneBadAnswer) {
  struct Case {
    FaultKind fault;
    bool survivesTwo;
  };
  const Case cases[] = {
      {FaultKind::NoAcknowledge, false},
      {FaultKind::BadChecksum, false},
      {FaultKind::Silence, false},
      {FaultKind::JunkBeforeFrame, true},  // skipped bytes before a good frame
      {FaultKind::WrongOpcode, true},      // a query takes any answer that has data
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(faultKindName(c.fault)));
    for (int faults = 1; faults <= 2; ++faults) {
      radio.setFaultPlan(FaultPlan().add(RequestKind::StatusQuery, 1, c.fault, faults));
      radio.clearLog();
      connect();
      const bool read = info.readIdentity();
      EXPECT_EQ(read, faults == 1 || c.survivesTwo);
      if (read) {
        // Nothing of a failed attempt stays in the error text.
        EXPECT_TRUE(errorLines().empty()) << ::testing::PrintToString(errorLines());
      } else {
        EXPECT_EQ(radio.count(RequestKind::StatusQuery), 2);
      }
    }
  }
}

TEST_F(RadioLinkTest, VanishingCableEndsTheIdentityRead) {
  radio.setFaultPlan(FaultPlan().add(RequestKind::StatusQuery, 2, FaultKind::Disconnect));
  connect();
  EXPECT_FALSE(info.readIdentity());
  EXPECT_FALSE(info.port().usable());
  EXPECT_EQ(radio.count(RequestKind::StatusQuery), 2);
}

TEST_F(RadioLinkTest, FailedItemKeepsWhatCameBefore) {
  // The firmware item is the third query; it fails on both attempts.
  radio.setFaultPlan(FaultPlan().add(RequestKind::StatusQuery, 3, FaultKind::Silence, 2));
  connect();
  EXPECT_FALSE(info.readIdentity());
  EXPECT_EQ(RadioInfo::modelText(info.modelNumber), "LA26CKN9AR1");
  EXPECT_EQ(info.regionCode, 0);
  EXPECT_EQ(info.firmwareVersionRecord, (RadioInfo::VersionRecord{}));
  EXPECT_EQ(info.privateId, (std::array<std::uint8_t, 12>{}));
  EXPECT_EQ(radio.count(RequestKind::SoftpotRead), 0);
}

TEST_F(RadioLinkTest, MemoryRoundTrip) {
  connect();
  Bytes block(220);
  std::iota(block.begin(), block.end(), 7);
  std::uint32_t address = 0x820100;
  EXPECT_EQ(tovr.memWrite(block, address, opcode, data), 0);
  EXPECT_EQ(opcode, TOVR::kMemoryWritten);
  EXPECT_EQ(address, 0x820100u);  // the radio echoes the address
  EXPECT_EQ(radio.memoryBytes(0x820100, 220), block);

  address = 0x820100;
  ASSERT_EQ(tovr.memRead(220, address, opcode, data), 220);
  EXPECT_EQ(opcode, 0x80);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 220), block);
}

TEST_F(RadioLinkTest, FlashIsErasedAndProgrammedOnlyInFlashTestMode) {
  connect();
  std::uint32_t address = 0x10000;
  // Outside the FLASH test mode the radio refuses flash commands.
  EXPECT_GE(tovr.eraseFlash(6, address, opcode, data), 0);
  EXPECT_EQ(errorLines().back(),
            "2:Error:failed to request for erase falsh after 2 trials. Erase type is 6, the "
            "address is 0, the status is 1, the last OPC is 141.");
  removeErrors(ErrorCategory::OK);

  ASSERT_EQ(tovr.requestTestMode(8, 0, 0, opcode, data), 2);
  EXPECT_EQ(data[1], 1);  // the flash layout
  EXPECT_GE(tovr.flashModeFollowUp(opcode, data), 0);
  EXPECT_GE(tovr.setProtectionMode(0x1000, opcode, data), 0);
  EXPECT_EQ(radio.protectionMode(), 0x1000);
  address = 0x10000;
  EXPECT_GE(tovr.eraseFlash(6, address, opcode, data), 0);
  EXPECT_EQ(radio.flashBytes(0x10000, 0x10000), Bytes(0x10000, 0xFF));

  Bytes image(5000);
  std::iota(image.begin(), image.end(), 1);
  address = 0x10002;
  EXPECT_GE(tovr.writeFlash(image, address, opcode, data), 0);
  EXPECT_EQ(opcode, TOVR::kFlashAccepted);
  EXPECT_EQ(radio.flashBytes(0x10002, 4096), Bytes(image.begin(), image.begin() + 4096));
  EXPECT_EQ(radio.flashOverwrites(), 0u);
  EXPECT_TRUE(errorLines().empty());
}

TEST_F(RadioLinkTest, ResetAnswersItsStatusWordAndLeavesTestMode) {
  SimRadioConfig config = radio.config();
  config.resetStatusWord = 0x0280;
  radio.setConfig(config);
  connect();
  ASSERT_GE(tovr.requestTestMode(8, 0, 0, opcode, data), 0);
  ASSERT_EQ(tovr.resetDevice(1, opcode, data), 2);
  EXPECT_EQ(data[0] * 256 + data[1], 0x0280);
  EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
}

TEST_F(RadioLinkTest, BaudSwitchTakesRadioAndPortTo57600) {
  connect();
  radio.setCurrentBaud(TOVR::kProbeBaudRate);
  ASSERT_TRUE(info.port().setBaudRate(TOVR::kProbeBaudRate));
  EXPECT_GE(tovr.radioBaudSwitch(0, opcode, data), 0);
  EXPECT_EQ(radio.currentBaud(), 57600u);
  EXPECT_EQ(cable.baudRate(), 57600u);
  EXPECT_TRUE(info.readIdentity());
}

TEST_F(RadioLinkTest, SerialNumberContactsAndBootLoad) {
  connect();
  const Bytes serial{'9', '8', '7'};
  EXPECT_GE(tovr.updateSerialNumber(serial, opcode, data), 0);
  EXPECT_GE(tovr.backupFactoryBlock(opcode, data), 0);
  EXPECT_TRUE(radio.factoryBackedUp());
  ASSERT_TRUE(info.readIdentity());
  EXPECT_EQ(info.serialLength, 3);
  EXPECT_EQ(RadioInfo::serialText(info.serialBytes()), "987");

  Bytes record(20, 0x11);
  record[7] = 2;  // its list kind
  radio.setContacts({record});
  const int r = tovr.contactCommand(0x30, Bytes{0x00, 0x00, 0x00}, opcode, data);
  ASSERT_EQ(r, 4 + 20);
  EXPECT_EQ(data[3], 1);  // the radio's total
  EXPECT_EQ(Bytes(data.begin() + 4, data.begin() + r), record);
  // Index 1 of 1, then the record.
  Bytes write(3 + record.size());
  write[1] = 1;
  write[2] = 1;
  std::copy(record.begin(), record.end(), write.begin() + 3);
  EXPECT_GT(tovr.contactCommand(0x31, write, opcode, data), 0);
  EXPECT_EQ(tovr.contactRestore(opcode, data), 1);
  EXPECT_EQ(radio.contactRestoreCount(), 1);

  EXPECT_EQ(tovr.bootloadRequest(), 3);
  EXPECT_TRUE(radio.bootLoadMode());
  EXPECT_EQ(tovr.statusQuery(0, opcode, data), -1);
}

}  // namespace
}  // namespace orvik
