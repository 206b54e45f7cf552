#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

#include "exec/command.h"

namespace orvik {

// The one worker: runs a list of commands one after the other on a thread of its own and
// announces the end to its listeners. A second start while a run is going on does nothing.
class Task : public Event {
 public:
  Task();
  ~Task() override;

  WindowHandle create() override;

  // Appends the command (not owned); false for a null command.
  bool addCommand(Command* command);
  // Empties the list; returns how many there were.
  std::size_t clearCommands();
  // Starts the worker on the listed commands unless one is running or the list is empty.
  bool start();
  // True while a worker exists and has not ended.
  bool running() const;

  // What the last worker reported: the index of the failing command, or the number of
  // commands when all of them succeeded. -1 before the first run ends.
  long lastResult() const { return lastResult_; }

 protected:
  void onMessage(const Message& message) override;

 private:
  struct TaskParams {
    std::stop_source stop;
    WindowHandle window = kNoWindow;
    std::vector<Command*> commands;
    std::atomic<bool> ended{false};
  };

  static void work(std::shared_ptr<TaskParams> params);
  void collectWorker();

  std::vector<Command*> commands_;
  std::shared_ptr<TaskParams> params_;
  std::thread worker_;
  long lastResult_ = -1;
};

}  // namespace orvik
