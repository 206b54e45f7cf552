#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <vector>

#include "base/clock.h"

namespace orvik::testing {

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

}  // namespace orvik::testing
