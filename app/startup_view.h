#pragma once

#include <string>

namespace orvik {

// What start-up needs from a front end: the desktop window shows a message box, the terminal
// tool prints the text. Both calls come on the thread that runs the start-up.
class StartupView {
 public:
  // The message-box style of start-up's failures (the error icon).
  static constexpr unsigned kErrorStyle = 0x10;

  virtual ~StartupView() = default;

  virtual void showMessage(const std::string& text, unsigned style) = 0;
  // A later start asked this one to come forward: show the main window again if it is
  // minimised (without activating it) and bring its topmost dialog to the front. A front end
  // without a window ignores it.
  virtual void raiseWindow() = 0;
};

}  // namespace orvik
