#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace orvik {

// SIGTERM, SIGHUP and Ctrl-C (SIGINT) brought to the window's thread: the handler only writes
// a byte to a pipe, whose reading end Qt watches, so that the reaction runs in the event loop
// as any other event. One instance per process.
class EndSignals {
 public:
  explicit EndSignals(std::function<void()> onSignal);
  ~EndSignals();
  EndSignals(const EndSignals&) = delete;
  EndSignals& operator=(const EndSignals&) = delete;

 private:
  std::function<void()> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace orvik
