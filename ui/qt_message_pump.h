#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace orvik {

// Binds the message windows of the user-interface thread to Qt's event loop: whenever a
// message is queued for that thread, from whatever thread, the queue is run from the Qt loop
// (also from the nested loops of modal dialogs), so news from the worker and the cable monitor
// reaches the window without anything blocking. Create it on the user-interface thread and
// keep it for as long as messages may come.
class QtMessagePump {
 public:
  using Observer = std::function<void()>;

  QtMessagePump();
  ~QtMessagePump();
  QtMessagePump(const QtMessagePump&) = delete;
  QtMessagePump& operator=(const QtMessagePump&) = delete;

  // Runs what is queued now, then tells the observers.
  void runPending();
  // Observers run after each run of the queue; a modal wait uses one to end when its work
  // has ended. Returns an id for removeObserver.
  int addObserver(Observer observer);
  void removeObserver(int id);

  // The state the wake-up hook shares with the pump.
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::vector<std::pair<int, Observer>> observers_;
  int nextObserver_ = 0;
};

}  // namespace orvik
