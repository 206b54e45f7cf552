#include "exec/radio_manager.h"

namespace orvik {

RadioManager::RadioManager(CableDriver& driver, Clock& clock)
    : monitorClock_(&clock), radioInfo_(std::make_unique<RadioInfo>(driver, clock)) {}

RadioManager::~RadioManager() {
  stopMonitor();
}

WindowHandle RadioManager::create() {
  const WindowHandle handle = Event::create();
  managerWindow_ = handle;
  if (handle != kNoWindow && !monitor_.joinable()) {
    monitor_ = std::jthread([this](std::stop_token stop) { monitor(stop); });
  }
  return handle;
}

bool RadioManager::connect(bool open) {
  RadioInfo& radio = *radioInfo_;
  const bool closed = radio.closeCable();
  if (!open) {
    return closed;
  }
  int first = -1;
  if (radio.port().countCables(first) == 0 || first < 0) {
    return false;
  }
  selectedIndex_ = first;
  return radio.openCable(first);
}

int RadioManager::countDevices() {
  return radioInfo_->port().countDevices();
}

void RadioManager::enableMonitor(bool enabled) {
  enabled_ = enabled;
}

void RadioManager::suspendMonitor() {
  std::unique_lock lock(suspendMutex_);
  suspended_ = true;
  countDone_.wait(lock, [this] { return !counting_; });
}

void RadioManager::resumeMonitor() {
  {
    std::lock_guard lock(suspendMutex_);
    suspended_ = false;
  }
  resumed_.notify_all();
}

void RadioManager::stopMonitor() {
  if (monitor_.joinable()) {
    monitor_.request_stop();
    resumeMonitor();
    monitor_.join();
  }
}

bool RadioManager::monitorHeldWithin(std::chrono::milliseconds limit) {
  std::unique_lock lock(suspendMutex_);
  return heldChanged_.wait_for(lock, limit, [this] { return held_; });
}

bool RadioManager::waitWhileSuspended(std::stop_token stop) {
  std::unique_lock lock(suspendMutex_);
  if (suspended_) {
    held_ = true;
    heldChanged_.notify_all();
  }
  resumed_.wait(lock, stop, [this] { return !suspended_; });
  held_ = false;
  if (stop.stop_requested()) {
    return false;
  }
  counting_ = true;
  return true;
}

void RadioManager::monitor(std::stop_token stop) {
  USBSerial& port = radioInfo_->port();
  while (!stop.stop_requested()) {
    monitorClock_->sleep(kMonitorPeriod, stop);
    if (stop.stop_requested()) {
      break;
    }
    if (!enabled_) {
      continue;
    }
    if (!waitWhileSuspended(stop)) {
      break;
    }
    int first = -1;
    const int count = port.countCables(first);
    cableCount_ = static_cast<std::uint8_t>(count);
    port.setLastStatus(0);
    {
      std::lock_guard lock(suspendMutex_);
      counting_ = false;
    }
    countDone_.notify_all();
    const LParam value = cableCount_ + (radioInfo_->connected ? 1 : 0);
    sendNotifyMessage(managerWindow_, MSG_CABLE_COUNT, 0, value);
  }
}

void RadioManager::onMessage(const Message& message) {
  if (message.message == MSG_CABLE_COUNT) {
    postToListeners(MSG_CABLE_COUNT, 0, message.lParam);
  }
}

}  // namespace orvik
