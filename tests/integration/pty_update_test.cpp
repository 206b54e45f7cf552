// A full update through the real tty path: the simulated radio served on a pseudo-terminal,
// the tty cable backend on its slave end. Fixed waits of the sequence go to a virtual clock;
// only the I/O waits (poll deadlines) are real.
#include <gtest/gtest.h>

#include <thread>

#include "commands/cmd_program.h"
#include "commands/personality_file.h"
#include "exec/radio_manager.h"
#include "link/tty_cable_driver.h"
#include "sim/pty_radio_server.h"
#include "sim/sim_radio.h"
#include "tests/commands/program_fixture.h"

namespace orvik::testing {
namespace {

class PtyUpdateTest : public ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    radio.setContacts(contacts);
    ASSERT_TRUE(server.open()) << server.error();
    serving = std::jthread([this](std::stop_token stop) { server.serve(stop); });
    driver = makeTtyCableDriver(server.slavePath());
    manager = std::make_unique<RadioManager>(*driver, clock);
  }
  void TearDown() override {
    manager.reset();
    serving.request_stop();
    serving.join();
    ErrorTextTest::TearDown();
  }

  const std::vector<Bytes> contacts = {contactRecord(1, 1), contactRecord(4, 2),
                                       contactRecord(2, 3), contactRecord(3, 4)};
  SimRadio radio;
  PtyRadioServer server{radio};
  std::jthread serving;
  VirtualClock clock;
  std::unique_ptr<CableDriver> driver;
  std::unique_ptr<RadioManager> manager;
  TempFolder temp;
};

TEST_F(PtyUpdateTest, FullUpdateOverThePty) {
  const Bytes dyn = radio.memoryBytes(kDynAddress, kDynSize);
  ASSERT_TRUE(manager->connect(true));
  RadioInfo& info = *manager->radioInfo();
  ASSERT_TRUE(info.readIdentity());
  removeErrors(ErrorCategory::OK);

  CmdProgram command;
  command.radioInfo = &info;
  command.setFirmwareFile(demoFirmwareFile());
  command.setAddressMapFile(demoAddressMapFile());
  command.setCodeplugFile(demoCodeplugFile());
  command.requestFirmwareSteps();
  command.requestCodeplugStep();
  command.requestPersonalitySteps();
  const PersonalityBlock blocks[] = {{DYN, kDynAddress, kDynSize}};
  command.setPersonalityBlocks(blocks);
  command.backupFolder = temp.path() / "backup";

  // The command runs on a worker, as it does under the wait dialog.
  bool result = false;
  std::thread worker([&] { result = command.execute(); });
  worker.join();
  ASSERT_TRUE(result) << ::testing::PrintToString(errorLines());
  EXPECT_EQ(errorLines(), Lines{});

  EXPECT_EQ(radio.flashBytes(kFirmwareStart, demoImage().size()), demoImage());
  EXPECT_EQ(radio.flashBytes(0x84000, demoDefBlock().size()), demoDefBlock());
  EXPECT_EQ(radio.memoryBytes(kDynAddress, kDynSize), dyn);
  EXPECT_EQ(radio.contacts(), (std::vector<Bytes>{contactRecord(4, 2), contactRecord(2, 3),
                                                  contactRecord(3, 4), contactRecord(1, 1)}));
  EXPECT_EQ(radio.protectionMode(), 0x0840);
  EXPECT_TRUE(readPersonalityFile(command.backupFile()).has_value());
  EXPECT_EQ(clock.sleeps().size(), 6u);
  EXPECT_TRUE(manager->disconnect());
}

}  // namespace
}  // namespace orvik::testing
