#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "exec/task_dialog.h"

class QLabel;

namespace orvik {

class QtMessagePump;

// The wait dialog shown while a command runs: a small frameless panel with a thin border and
// the text in its middle. It has no close button and ignores Escape, so it ends only when the
// work has ended.
class WaitDialog : public QDialog {
 public:
  static constexpr int kWidth = 248;
  static constexpr int kHeight = 88;

  WaitDialog(QWidget* parent, const QString& text);
  QString text() const;

 protected:
  void reject() override {}
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* label_;
};

// Runs the wait dialog modally on the Qt loop. The loop runs the thread's messages through the
// pump, and the dialog is checked after each run: it ends as soon as `ended` holds.
class QtWaitView final : public WaitView {
 public:
  QtWaitView(QtMessagePump& pump, QWidget* parent);

  void runModal(const std::string& text, const std::function<bool()>& ended) override;

  // The dialog that is up now, if any.
  WaitDialog* activeDialog() const { return active_; }
  // Called each time a dialog has been shown (used to take pictures of it).
  void setShownHook(std::function<void(WaitDialog&)> hook) { shown_ = std::move(hook); }

 private:
  QtMessagePump& pump_;
  QWidget* parent_;
  WaitDialog* active_ = nullptr;
  std::function<void(WaitDialog&)> shown_;
};

}  // namespace orvik
