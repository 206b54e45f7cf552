#include "exec/task.h"

namespace orvik {

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
  try {
    for (std::size_t i = 0; i < count; ++i) {
      if (params->stop.stop_requested()) {
        break;
      }
      if (!params->commands[i]->execute()) {
        result = i;
        break;
      }
    }
  } catch (...) {
    // A command that throws ends the run; the result stays what it was.
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
