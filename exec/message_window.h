#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace orvik {

// Hidden message windows: the way news crosses threads in the tool. A window belongs to the
// thread that created it and its handler runs only on that thread, out of the thread's message
// queue. Senders never wait for the owner.
using WindowHandle = std::uint64_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;

inline constexpr WindowHandle kNoWindow = 0;

// The tool's private messages.
inline constexpr unsigned MSG_TASK_DONE = 1125;
inline constexpr unsigned MSG_PROGRESS = 1126;
inline constexpr unsigned MSG_COMMAND_STARTED = 1224;
inline constexpr unsigned MSG_COMMAND_FINISHED = 1225;
// The step a command has begun (wParam: the command's own step number; 0: the command failed
// and its further progress means nothing).
inline constexpr unsigned MSG_COMMAND_STEP = 1226;
inline constexpr unsigned MSG_CABLE_COUNT = 1327;

struct Message {
  WindowHandle window = kNoWindow;
  unsigned message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

using MessageHandler = std::function<void(const Message&)>;

// The message queue of one thread. The command-line tool and the tests run it with
// processPending / runUntil; the desktop window wakes its own event loop through the wake-up
// hook and calls processPending there.
class MessageQueue {
 public:
  // Runs every message queued so far on the calling (owning) thread; returns how many ran.
  std::size_t processPending();
  // Waits until a message is queued, at most the time-out; true when one is waiting.
  bool waitForMessage(std::chrono::milliseconds timeout);
  // Runs messages as they come until `done` holds; `done` is checked before waiting and after
  // every message.
  void runUntil(const std::function<bool()>& done);
  // Called from any thread whenever a message is queued. The hook must not block.
  void setWakeup(std::function<void()> wakeup);

  void enqueue(const Message& message);
  bool empty() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<Message> messages_;
  std::function<void()> wakeup_;
};

// The queue of the calling thread, created on first use.
MessageQueue& currentThreadQueue();

// Creates a window owned by the calling thread. Its handler runs for each message that reaches
// it while it exists.
WindowHandle createMessageWindow(MessageHandler handler);
// Destroys the window; messages still queued for it are dropped.
void destroyMessageWindow(WindowHandle window);
bool isWindow(WindowHandle window);
// Queues the message for the window's owner; false when the window does not exist.
bool postMessage(WindowHandle window, unsigned message, WParam wParam, LParam lParam);
// Runs the handler at once when called on the owner's thread, otherwise queues the message like
// postMessage; never waits. False when the window does not exist.
bool sendNotifyMessage(WindowHandle window, unsigned message, WParam wParam, LParam lParam);

}  // namespace orvik
