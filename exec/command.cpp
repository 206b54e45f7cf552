#include "exec/command.h"

namespace orvik {

unsigned Command::scaledProgress(unsigned done, unsigned total, unsigned span, unsigned base) {
  // No work to do counts as all done, and done never counts beyond total, so the value stays
  // within the caller's span.
  if (total == 0 || done > total) {
    done = total = 1;
  }
  const double share =
      static_cast<double>(done) / static_cast<double>(total) * static_cast<double>(span);
  return base + static_cast<unsigned>(share);
}

void Command::notifyStarted() {
  if (isWindow(notifyWindow)) {
    postMessage(notifyWindow, MSG_COMMAND_STARTED, 0, 0);
  }
}

void Command::notifyFinished() {
  if (isWindow(notifyWindow)) {
    postMessage(notifyWindow, MSG_COMMAND_FINISHED, 0, 0);
  }
}

void Command::sendProgress(unsigned value) {
  if (isWindow(notifyWindow)) {
    sendNotifyMessage(notifyWindow, MSG_PROGRESS, value, 0);
  }
}

void Command::notifyStep(unsigned step) {
  if (isWindow(notifyWindow)) {
    sendNotifyMessage(notifyWindow, MSG_COMMAND_STEP, step, 0);
  }
}

void Command::sendScaledProgress(unsigned done, unsigned total) {
  sendProgress(scaledProgress(done, total, progressSpan, progressBase));
}

}  // namespace orvik
