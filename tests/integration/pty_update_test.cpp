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
#include "sim/sim_cable_driver.h"
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

// A firmware update with the personality kept, small enough to run at line speed in a few
// seconds, yet with full flash pieces: each is longer on a 57600-baud line (713 ms) than the
// wait for its answer's first bytes (2 x 300 ms).
void configureSmallUpdate(CmdProgram& command, RadioInfo& info,
                          const std::filesystem::path& folder) {
  const std::filesystem::path firmware = folder / "fw_small.kxk";
  writeFirmwareContainer(firmware, imageOfLength(2 * 4096 + 2));
  command.radioInfo = &info;
  command.setFirmwareFile(firmware);
  command.setAddressMapFile(demoAddressMapFile());
  command.requestFirmwareSteps();
  command.requestPersonalitySteps();
  const PersonalityBlock blocks[] = {{DYN, kDynAddress, 0x400}};
  command.setPersonalityBlocks(blocks);
  command.backupFolder = folder / "backup";
}

// Real time: the line's time against the real waits of the tty backend. The same demand (not
// one request more than an instant radio gets) is made on the virtual clock in
// ProgramSequenceTest, where a loaded machine cannot make a wait run out.
TEST_F(PtyUpdateTest, RealTimeAtLineTimeTheUpdateMakesTheRequestsOfAnInstantRadio) {
  // What the update asks of a radio that answers at once, in process.
  std::vector<RequestKind> instant;
  {
    SimRadio instantRadio;
    instantRadio.setContacts(contacts);
    VirtualClock instantClock;
    SimCableDriver cable(instantRadio, instantClock);
    RadioManager instantManager(cable, instantClock);
    ASSERT_TRUE(instantManager.connect(true));
    instantRadio.clearLog();
    CmdProgram command;
    configureSmallUpdate(command, *instantManager.radioInfo(), temp.path() / "instant");
    ASSERT_TRUE(command.execute()) << ::testing::PrintToString(errorLines());
    instant = instantRadio.requestKinds();
  }

  // The same update through the tty backend, with the radio keeping the time of a real line
  // and starting each answer 1 ms after the request has arrived.
  serving.request_stop();
  serving.join();
  server.keepLineTime(57600, std::chrono::milliseconds(1));
  serving = std::jthread([this](std::stop_token stop) { server.serve(stop); });
  const Bytes dyn = radio.memoryBytes(kDynAddress, 0x400);
  ASSERT_TRUE(manager->connect(true));
  radio.clearLog();
  removeErrors(ErrorCategory::OK);  // the cable-mode probe found no echo
  CmdProgram command;
  configureSmallUpdate(command, *manager->radioInfo(), temp.path() / "line");
  bool result = false;
  std::thread worker([&] { result = command.execute(); });
  worker.join();
  ASSERT_TRUE(result) << ::testing::PrintToString(errorLines());
  EXPECT_EQ(errorLines(), Lines{});
  EXPECT_EQ(radio.requestKinds(), instant);
  EXPECT_EQ(radio.memoryBytes(kDynAddress, 0x400), dyn);
  EXPECT_EQ(radio.contacts(), (std::vector<Bytes>{contactRecord(4, 2), contactRecord(2, 3),
                                                  contactRecord(3, 4), contactRecord(1, 1)}));
  EXPECT_TRUE(manager->disconnect());
}

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
  command.keepPersonality = false;
  bool updated = false;
  std::thread update([&] { updated = command.execute(); });
  update.join();
  ASSERT_TRUE(updated) << ::testing::PrintToString(errorLines());
  EXPECT_EQ(radio.flashBytes(kFirmwareStart, demoImage().size()), demoImage());
  EXPECT_TRUE(manager->disconnect());
}

}  // namespace
}  // namespace orvik::testing
