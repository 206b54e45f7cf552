// The radio manager's connect rules and its cable monitor.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "exec/radio_manager.h"
#include "tests/support/error_text_fixture.h"
#include "tests/support/scripted_cable_driver.h"

namespace orvik {
namespace {

// A clock whose waits end only when the test lets one pass (or a stop is requested), so the
// monitor's passes can be counted one by one without spending time.
class GateClock final : public Clock {
 public:
  std::chrono::milliseconds now() override { return std::chrono::milliseconds(0); }
  void sleep(std::chrono::milliseconds) override {}
  void sleep(std::chrono::milliseconds duration, std::stop_token stop) override {
    std::unique_lock lock(mutex_);
    waits_.push_back(duration);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, stop, [this] { return passes_ > 0; });
    if (passes_ > 0) {
      --passes_;
    }
    --waiting_;
  }
  // Lets one wait end.
  void release() {
    std::lock_guard lock(mutex_);
    ++passes_;
    changed_.notify_all();
  }
  // Lets one wait end, then returns once the waiter is waiting again (one whole pass).
  void pass() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_ > 0; });
    const std::size_t before = waits_.size();
    ++passes_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return waits_.size() > before && waiting_ > 0; });
  }
  std::vector<std::chrono::milliseconds> waits() {
    std::lock_guard lock(mutex_);
    return waits_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<std::chrono::milliseconds> waits_;
  int waiting_ = 0;
  int passes_ = 0;
};

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

}  // namespace
}  // namespace orvik
