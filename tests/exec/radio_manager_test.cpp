// The radio manager's connect rules and its cable monitor.
#include <gtest/gtest.h>

#include "exec/radio_manager.h"
#include "tests/support/error_text_fixture.h"
#include "tests/support/gate_clock.h"
#include "tests/support/scripted_cable_driver.h"

namespace orvik {
namespace {

using testing::GateClock;

class RadioManagerTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    listener = createMessageWindow([this](const Message& m) {
      if (m.message == MSG_CABLE_COUNT) {
        counts.push_back(m.lParam);
      }
    });
  }
  void TearDown() override {
    manager.stopMonitor();
    destroyMessageWindow(listener);
    ErrorTextTest::TearDown();
  }
  // Runs what the monitor sent to the manager's window, then what the manager passed on.
  std::vector<LParam> delivered() {
    currentThreadQueue().processPending();
    currentThreadQueue().processPending();
    return counts;
  }

  VirtualClock linkClock;
  testing::ScriptedCableDriver driver{linkClock};
  GateClock gate;
  RadioManager manager{driver, gate};
  WindowHandle listener = kNoWindow;
  std::vector<LParam> counts;
};

TEST_F(RadioManagerTest, MonitorReportsCablesPlusOneWhileConnected) {
  manager.addListener(listener);
  manager.create();
  gate.pass();
  EXPECT_EQ(delivered(), std::vector<LParam>{1});
  EXPECT_EQ(manager.cableCount(), 1);

  // While a radio is connected the count says so; a second cable shows as well.
  ASSERT_TRUE(manager.connect(true));
  driver.devices.push_back(testing::ScriptedCableDriver::Device{});
  gate.pass();
  EXPECT_EQ(delivered(), (std::vector<LParam>{1, 3}));

  // The monitor clears a failed status it finds, so the port takes exchanges again.
  manager.radioInfo()->port().setLastStatus(FT_IO_ERROR);
  gate.pass();
  EXPECT_EQ(manager.radioInfo()->port().lastStatus(), FT_OK);
  EXPECT_EQ(gate.waits().front(), RadioManager::kMonitorPeriod);
}

TEST_F(RadioManagerTest, DisabledOrSuspendedMonitorSendsNothingAndStillStops) {
  manager.addListener(listener);
  manager.enableMonitor(false);
  manager.create();
  gate.pass();
  gate.pass();
  EXPECT_TRUE(delivered().empty());

  manager.enableMonitor(true);
  manager.suspendMonitor();
  const int listed = driver.count(testing::ScriptedCableDriver::Call::ListCount);
  gate.release();  // the pass then waits while suspended
  // Checked once the monitor is in that wait: before it, no count could have been made anyway.
  ASSERT_TRUE(manager.monitorHeldWithin(std::chrono::seconds(30)));
  EXPECT_EQ(driver.count(testing::ScriptedCableDriver::Call::ListCount), listed);
  EXPECT_TRUE(delivered().empty());
  // Stopping ends the thread at once, suspended or waiting, and no count was made meanwhile.
  manager.stopMonitor();
  EXPECT_EQ(driver.count(testing::ScriptedCableDriver::Call::ListCount), listed);
  EXPECT_TRUE(delivered().empty());
}

TEST_F(RadioManagerTest, ConnectAndDisconnect) {
  EXPECT_TRUE(manager.disconnect());  // nothing open: nothing to do
  EXPECT_EQ(driver.count(testing::ScriptedCableDriver::Call::Close), 0);

  driver.devices.clear();
  EXPECT_FALSE(manager.connect(true));
  EXPECT_EQ(manager.selectedIndex(), -1);
  EXPECT_EQ(driver.count(testing::ScriptedCableDriver::Call::Open), 0);

  testing::ScriptedCableDriver::Device keyboard;
  keyboard.description = "Keyboard";
  driver.devices = {keyboard, testing::ScriptedCableDriver::Device{}};
  EXPECT_TRUE(manager.connect(true));
  EXPECT_EQ(manager.selectedIndex(), 1);
  EXPECT_EQ(manager.radioInfo()->portIndex, 1);
  EXPECT_EQ(manager.countDevices(), 2);
  EXPECT_TRUE(manager.disconnect());
  EXPECT_FALSE(manager.radioInfo()->connected);
  EXPECT_EQ(manager.radioInfo()->portIndex, -1);
}

// A connect that opens the cable but cannot set its line up gives the port back: held open it
// would stay locked against the keypad boot-loader and every other program.
TEST_F(RadioManagerTest, ConnectThatCannotSetTheLineLeavesThePortClosed) {
  using Call = testing::ScriptedCableDriver::Call;
  const struct {
    Call call;
    const char* line;
  } cases[] = {
      {Call::SetBaudRate, "3:Error:failed to set baud rade [16406]."},
      {Call::SetDataCharacteristics, "3:Error:failed to set parity data stop."},
      {Call::SetFlowControl, "3:Error:failed to set flow."},
      {Call::SetTimeouts, "3:Error:failed to configure time out."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    removeErrors(ErrorCategory::OK);
    driver.failNext(c.call, {FT_IO_ERROR});
    EXPECT_FALSE(manager.connect(true));
    EXPECT_FALSE(driver.isOpen());
    EXPECT_FALSE(manager.radioInfo()->port().isOpen());
    EXPECT_FALSE(manager.radioInfo()->connected);
    EXPECT_EQ(testing::errorLines(), std::vector<std::string>{c.line});
    // Nothing is left for a disconnect to close, and the next connect goes through.
    const int closes = driver.count(Call::Close);
    EXPECT_TRUE(manager.disconnect());
    EXPECT_EQ(driver.count(Call::Close), closes);
    EXPECT_TRUE(manager.connect(true));
    EXPECT_TRUE(manager.disconnect());
    EXPECT_FALSE(driver.isOpen());
  }
}

}  // namespace
}  // namespace orvik
