#pragma once

#include "exec/event.h"

namespace orvik {

class RadioInfo;

// A radio command that the worker task runs: the update, the keypad update, the serial
// number. Whoever starts it fills in the radio, the window for its news and its share of the
// caller's progress display.
class Command : public Event {
 public:
  // Does the command's work on the worker thread; true when it succeeded.
  virtual bool execute() = 0;

  // Set when the command starts, cleared at its first failing step.
  bool resultFlag = false;
  RadioInfo* radioInfo = nullptr;
  WindowHandle notifyWindow = kNoWindow;
  unsigned progressSpan = 100;
  unsigned progressBase = 0;

  // base + the integer part of done / total × span.
  static unsigned scaledProgress(unsigned done, unsigned total, unsigned span, unsigned base);

 protected:
  // The three kinds of news a command gives its window; nothing goes to a window that no
  // longer exists.
  void notifyStarted();
  void notifyFinished();
  void sendProgress(unsigned value);
  // The step the progress from here on belongs to (MSG_COMMAND_STEP).
  void notifyStep(unsigned step);
  // Sends the progress of done out of total mapped onto the caller's span.
  void sendScaledProgress(unsigned done, unsigned total);
};

}  // namespace orvik
