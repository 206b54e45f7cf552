#include "ui/qt_startup_view.h"

#include <QApplication>
#include <iostream>

#include "ui/msg_box.h"

namespace orvik {

void QtStartupView::showMessage(const std::string& text, unsigned style) {
  if (unattended_) {
    std::cerr << text << '\n';
    return;
  }
  CMsgBox box(window_ != nullptr && window_->isVisible() ? window_.data() : nullptr,
              QString::fromStdString(text), QString(), style);
  if (runner_) {
    runner_(box);
  } else {
    box.exec();
  }
}

void QtStartupView::raiseWindow() {
  if (window_ == nullptr) {
    return;
  }
  if (window_->isMinimized()) {
    const bool without = window_->testAttribute(Qt::WA_ShowWithoutActivating);
    window_->setAttribute(Qt::WA_ShowWithoutActivating, true);
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->setAttribute(Qt::WA_ShowWithoutActivating, without);
  }
  QWidget* top = QApplication::activeModalWidget();
  if (top == nullptr) {
    top = window_;
  }
  top->raise();
  top->activateWindow();
}

}  // namespace orvik
