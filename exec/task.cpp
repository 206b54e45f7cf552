#include "exec/task.h"

#include <exception>

#include "errors/error_text.h"

namespace orvik {
namespace {

// Tells the error text what a command threw; it runs inside a handler, so it never throws.
void noteFault(const char* what) noexcept {
  try {
    if (what != nullptr) {
      appendError(ErrorCategory::UPDATE, "Error:the command stopped on an unexpected fault [%s].",
                  what);
    } else {
      appendError(ErrorCategory::UPDATE, "Error:the command stopped on an unexpected fault.");
    }
  } catch (...) {
    // Out of memory even for the line: the failed result still stands.
  }
}

// A command that throws has not done its work, whatever step it reached: it counts as failed,
// with a line saying why, so that the caller reports a failure instead of the flag the command
// set when it started.
bool executeGuarded(Command& command) {
  try {
    return command.execute();
  } catch (const std::exception& e) {
    command.resultFlag = false;
    noteFault(e.what());
  } catch (...) {
    command.resultFlag = false;
    noteFault(nullptr);
  }
  return false;
}

}  // namespace

Task::Task() : params_(std::make_shared<TaskParams>()) {}

Task::~Task() {
  collectWorker();
}

WindowHandle Task::create() {
  const WindowHandle handle = Event::create();
  params_->window = handle;
  return handle;
}

bool Task::addCommand(Command* command) {
  if (command == nullptr) {
    return false;
  }
  commands_.push_back(command);
  return true;
}

std::size_t Task::clearCommands() {
  const std::size_t count = commands_.size();
  commands_.clear();
  return count;
}

bool Task::running() const {
  return worker_.joinable() && !params_->ended.load();
}

bool Task::start() {
  if (running() || commands_.empty()) {
    return true;
  }
  // A worker that ended but whose end has not been handled yet is collected first.
  collectWorker();
  params_->commands = commands_;
  params_->ended = false;
  worker_ = std::thread(&Task::work, params_);
  return true;
}

void Task::work(std::shared_ptr<TaskParams> params) {
  const std::size_t count = params->commands.size();
  std::size_t result = count;
  for (std::size_t i = 0; i < count; ++i) {
    if (params->stop.stop_requested()) {
      break;
    }
    if (!executeGuarded(*params->commands[i])) {
      result = i;
      break;
    }
  }
  params->ended = true;
  if (params->window != kNoWindow) {
    sendNotifyMessage(params->window, MSG_TASK_DONE, 0, static_cast<LParam>(result));
  }
}

void Task::collectWorker() {
  if (worker_.joinable()) {
    worker_.join();
  }
}

void Task::onMessage(const Message& message) {
  if (message.message != MSG_TASK_DONE) {
    return;
  }
  lastResult_ = static_cast<long>(message.lParam);
  // The worker has sent its last message; it only has to return.
  collectWorker();
  postToListeners(MSG_TASK_DONE, 0, 0);
}

}  // namespace orvik
