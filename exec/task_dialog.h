#pragma once

#include <functional>
#include <string>
#include <vector>

#include "exec/task.h"

namespace orvik {

// How a front end shows the wait dialog: it shows the text and keeps the calling thread's
// messages running until `ended` holds, with no way for the user to close it early.
class WaitView {
 public:
  virtual ~WaitView() = default;
  virtual void runModal(const std::string& text, const std::function<bool()>& ended) = 0;
};

// The plain wait: runs the thread's message queue; the terminal tool and the tests use it.
class QueueWaitView final : public WaitView {
 public:
  void runModal(const std::string& text, const std::function<bool()>& ended) override;
};

// The modal wait dialog through which the main window runs commands: it hands them to the task,
// stays up while they run and ends when the task reports the end.
class CTaskDialog : public Event {
 public:
  static constexpr const char* kDefaultText = "Please wait...";
  static constexpr int kResultDone = 1;

  CTaskDialog(Task& task, WaitView& view);
  ~CTaskDialog() override;

  void setText(std::string text) { text_ = std::move(text); }
  const std::string& text() const { return text_; }
  bool addCommand(Command* command);
  // Runs the commands under the dialog; returns the dialog's result.
  int run();

 protected:
  void onMessage(const Message& message) override;

 private:
  // Stands in for the zero-period timer that ends the dialog after the task's end.
  static constexpr unsigned kEndTimer = 10001;

  void end(int result);

  Task& task_;
  WaitView& view_;
  std::vector<Command*> commands_;
  std::string text_ = kDefaultText;
  bool ended_ = false;
  int result_ = 0;
};

}  // namespace orvik
