#pragma once

#include <chrono>
#include <mutex>
#include <stop_token>
#include <vector>

namespace orvik {

// Every fixed wait of the tool goes through a Clock, so that tests can check the waits
// without spending them. The link layer is the lowest one that waits, so the clock lives
// below it and every layer above shares it.
class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic time since an arbitrary origin.
  virtual std::chrono::milliseconds now() = 0;
  virtual void sleep(std::chrono::milliseconds duration) = 0;
  // A wait that ends early when a stop is requested, so that background threads waiting
  // between passes end at once instead of after their full wait.
  virtual void sleep(std::chrono::milliseconds duration, std::stop_token stop) = 0;
};

class SystemClock final : public Clock {
 public:
  std::chrono::milliseconds now() override;
  void sleep(std::chrono::milliseconds duration) override;
  void sleep(std::chrono::milliseconds duration, std::stop_token stop) override;
};

// The process's real clock.
Clock& systemClock();

// A clock whose time moves only when someone sleeps on it or advances it. It records every
// sleep so that tests can check the fixed waits of a sequence.
class VirtualClock final : public Clock {
 public:
  std::chrono::milliseconds now() override;
  void sleep(std::chrono::milliseconds duration) override;
  void sleep(std::chrono::milliseconds duration, std::stop_token stop) override;
  void advance(std::chrono::milliseconds duration);
  std::vector<std::chrono::milliseconds> sleeps() const;
  void clearSleeps();

 private:
  mutable std::mutex mutex_;
  std::chrono::milliseconds now_{0};
  std::vector<std::chrono::milliseconds> sleeps_;
};

}  // namespace orvik
