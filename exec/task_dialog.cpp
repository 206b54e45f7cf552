#include "exec/task_dialog.h"

namespace orvik {

void QueueWaitView::runModal(const std::string&, const std::function<bool()>& ended) {
  currentThreadQueue().runUntil(ended);
}

CTaskDialog::CTaskDialog(Task& task, WaitView& view) : task_(task), view_(view) {}

CTaskDialog::~CTaskDialog() {
  if (created()) {
    task_.removeListener(window());
  }
  task_.clearCommands();
}

bool CTaskDialog::addCommand(Command* command) {
  if (command == nullptr) {
    return false;
  }
  commands_.push_back(command);
  return true;
}

int CTaskDialog::run() {
  ended_ = false;
  result_ = 0;
  create();
  if (task_.running() || commands_.empty()) {
    // One run at a time: a dialog opened while the worker is busy ends at once. With nothing
    // to run no end would ever be reported, so it ends at once too.
    end(kResultDone);
  } else {
    task_.clearCommands();
    for (Command* command : commands_) {
      task_.addCommand(command);
    }
    task_.addListener(window());
    task_.start();
  }
  view_.runModal(text_, [this] { return ended_; });
  task_.removeListener(window());
  task_.clearCommands();
  return result_;
}

void CTaskDialog::onMessage(const Message& message) {
  if (message.message == MSG_TASK_DONE) {
    postMessage(window(), kEndTimer, 0, 0);
  } else if (message.message == kEndTimer) {
    end(kResultDone);
  }
}

void CTaskDialog::end(int result) {
  result_ = result;
  ended_ = true;
}

}  // namespace orvik
