#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "exec/event.h"
#include "exec/radio_info.h"

namespace orvik {

// The one owner of the link to the radio: connects and disconnects the programming cable and
// runs the cable monitor, which counts the attached cables once a second and tells the
// listeners (the main window) through the manager's window.
class RadioManager : public Event {
 public:
  static constexpr std::chrono::milliseconds kMonitorPeriod{1000};

  RadioManager(CableDriver& driver, Clock& clock);
  ~RadioManager() override;

  // Creates the window on the calling thread and starts the cable monitor.
  WindowHandle create() override;
  // The clock that paces the monitor, when it is not the link's (a simulated link answers
  // at once on a virtual clock, but its monitor still counts once a real second). Set it
  // before create.
  void setMonitorClock(Clock& clock) { monitorClock_ = &clock; }

  // true connects: closes what was open, counts the cables and opens the first one found.
  // false disconnects: true when nothing was open or the cable was closed.
  bool connect(bool open);
  bool disconnect() { return connect(false); }
  // Number of devices of any kind the driver sees; 0 when it cannot tell.
  int countDevices();

  // The monitor counts only while enabled (the main window enables it while it exists).
  void enableMonitor(bool enabled);
  // Holds the monitor between passes while another program uses the cable; returns once no
  // count is going on.
  void suspendMonitor();
  void resumeMonitor();
  // Ends the monitor thread and waits for it.
  void stopMonitor();
  // For tests: true once the monitor is held in its suspended wait, false when it is not
  // within the time given.
  bool monitorHeldWithin(std::chrono::milliseconds limit);

  RadioInfo* radioInfo() { return radioInfo_.get(); }
  int selectedIndex() const { return selectedIndex_; }
  std::uint8_t cableCount() const { return cableCount_; }

 protected:
  void onMessage(const Message& message) override;

 private:
  void monitor(std::stop_token stop);
  // Waits while suspended; false when a stop was requested meanwhile.
  bool waitWhileSuspended(std::stop_token stop);

  Clock* monitorClock_;
  std::unique_ptr<RadioInfo> radioInfo_;
  int selectedIndex_ = -1;
  std::atomic<std::uint8_t> cableCount_{0};
  std::atomic<bool> enabled_{true};
  std::atomic<WindowHandle> managerWindow_{kNoWindow};

  std::mutex suspendMutex_;
  std::condition_variable_any resumed_;
  bool suspended_ = false;
  bool counting_ = false;
  bool held_ = false;
  std::condition_variable countDone_;
  std::condition_variable heldChanged_;

  std::jthread monitor_;
};

}  // namespace orvik
