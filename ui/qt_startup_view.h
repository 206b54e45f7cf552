#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "app/startup_view.h"

namespace orvik {

class CMsgBox;

// Start-up's messages as message boxes, and the raise a later start asks for.
class QtStartupView final : public StartupView {
 public:
  // The window to raise once it exists.
  void setWindow(QWidget* window) { window_ = window; }
  // Nobody is at the screen (the screenshot run): messages go to standard error instead.
  void setUnattended(bool unattended) { unattended_ = unattended; }
  // How a message box is run; by default modally. Tests answer it.
  void setMessageBoxRunner(std::function<int(CMsgBox&)> runner) { runner_ = std::move(runner); }

  void showMessage(const std::string& text, unsigned style) override;
  // Shows the window again if it is minimised, without activating it, and brings the topmost
  // dialog (a message box, the wait dialog) or else the window to the front.
  void raiseWindow() override;

 private:
  QPointer<QWidget> window_;
  bool unattended_ = false;
  std::function<int(CMsgBox&)> runner_;
};

}  // namespace orvik
