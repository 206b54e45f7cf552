#include "base/clock.h"

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
