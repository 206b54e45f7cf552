#include "base/clock.h"

#include <condition_variable>
#include <thread>

namespace orvik {

std::chrono::milliseconds SystemClock::now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::sleep(std::chrono::milliseconds duration) {
  if (duration.count() > 0) {
    std::this_thread::sleep_for(duration);
  }
}

void SystemClock::sleep(std::chrono::milliseconds duration, std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  wake.wait_for(lock, stop, duration, [] { return false; });
}

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

std::chrono::milliseconds VirtualClock::now() {
  std::lock_guard lock(mutex_);
  return now_;
}

void VirtualClock::sleep(std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  sleeps_.push_back(duration);
  now_ += duration;
}

void VirtualClock::sleep(std::chrono::milliseconds duration, std::stop_token stop) {
  if (!stop.stop_requested()) {
    sleep(duration);
  }
}

void VirtualClock::advance(std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  now_ += duration;
}

std::vector<std::chrono::milliseconds> VirtualClock::sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

void VirtualClock::clearSleeps() {
  std::lock_guard lock(mutex_);
  sleeps_.clear();
}

}  // namespace orvik
