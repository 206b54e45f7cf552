// A full update through the real tty path: the simulated radio served on a pseudo-terminal,
// the tty cable backend on its slave end. Fixed waits of the sequence go to a virtual clock;
// only the I/O waits (poll deadlines) are real.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "commands/cmd_keypad.h"
#include "commands/cmd_program.h"
#include "commands/personality_file.h"
#include "exec/radio_manager.h"
#include "link/tty_cable_driver.h"
#include "sim/pty_radio_server.h"
#include "sim/sim_radio.h"
#include "tests/commands/program_fixture.h"
#include "tests/support/script_launchers.h"

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

// The keypad path of an update on the real tty path: the boot-load request, the port closed
// for the boot-loader script, which programs the keypad through the same device, the reconnect
// and identity read, then the firmware update.
TEST_F(PtyUpdateTest, KeypadThenFirmwareOverThePty) {
  ASSERT_TRUE(manager->connect(true));
  RadioInfo& info = *manager->radioInfo();
  ASSERT_TRUE(info.readIdentity());
  EXPECT_EQ(RadioInfo::versionRecordText(info.keypadVersionRecord), "R01.00.00");
  ASSERT_GE(info.engine().bootloadRequest(), 0);
  ASSERT_TRUE(manager->disconnect());

  // A boot-loader of the test's own: it programs what the simulated radio's boot-loader
  // understands, on the device the tool names, waits for its answer (a pty drops what the radio
  // has not read when the tool reopens and purges it), and tells which port it was given.
  const std::filesystem::path script = temp.path() / "driver" / "blhost.sh";
  const std::filesystem::path given = temp.path() / "given";
  std::filesystem::create_directories(script.parent_path());
  std::ofstream(script) << "#!/bin/sh\n"
                           "printf '%s %s' \"$1\" \"$ORVIK_CABLE_DEVICE\" > '"
                        << given.string()
                        << "'\n"
                           "exec 3<>\"$ORVIK_CABLE_DEVICE\" || exit 1\n"
                           "stty min 1 time 0 <&3 || exit 1\n"
                           "printf 'KEYPAD R01.01.00\\n' >&3\n"
                           "read -r answer <&3 && [ \"$answer\" = OK ] || exit 1\n"
                           "exit 2\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  CmdKeypad keypad{std::make_unique<ScriptEndsInTimeLauncher>()};
  keypad.baseFolder = temp.path();
  keypad.radioInfo = &info;
  bool programmed = false;
  std::thread worker([&] { programmed = keypad.execute(); });
  worker.join();
  ASSERT_TRUE(programmed) << keypad.scriptEnding();
  std::ifstream in(given);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string number = server.slavePath().substr(server.slavePath().rfind('/') + 1);
  EXPECT_EQ(text, "COM" + number + " " + server.slavePath());

  ASSERT_TRUE(manager->connect(true));
  ASSERT_TRUE(info.readIdentity()) << ::testing::PrintToString(errorLines());
  EXPECT_EQ(RadioInfo::versionRecordText(info.keypadVersionRecord), "R01.01.00");
  EXPECT_FALSE(radio.bootLoadMode());
  removeErrors(ErrorCategory::OK);

  CmdProgram command;
  command.radioInfo = &info;
  command.setFirmwareFile(demoFirmwareFile());
  command.setAddressMapFile(demoAddressMapFile());
  command.setCodeplugFile(demoCodeplugFile());
  command.requestFirmwareSteps();
  command.requestCodeplugStep();
  command.backupFolder = temp.path() / "backup";
  bool updated = false;
  std::thread update([&] { updated = command.execute(); });
  update.join();
  ASSERT_TRUE(updated) << ::testing::PrintToString(errorLines());
  EXPECT_EQ(radio.flashBytes(kFirmwareStart, demoImage().size()), demoImage());
  EXPECT_TRUE(manager->disconnect());
}

}  // namespace
}  // namespace orvik::testing
