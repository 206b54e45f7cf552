#include "exec/message_window.h"

#include <map>
#include <thread>

namespace orvik {
namespace {

struct WindowEntry {
  std::shared_ptr<MessageQueue> owner;
  std::thread::id ownerThread;
  std::shared_ptr<MessageHandler> handler;
};

// The process's window table; handles are never reused, so a stale handle stays invalid.
class WindowTable {
 public:
  WindowHandle add(WindowEntry entry) {
    std::lock_guard lock(mutex_);
    const WindowHandle handle = ++lastHandle_;
    windows_.emplace(handle, std::move(entry));
    return handle;
  }
  void remove(WindowHandle handle) {
    std::shared_ptr<MessageHandler> handler;  // released outside the lock
    std::lock_guard lock(mutex_);
    const auto found = windows_.find(handle);
    if (found != windows_.end()) {
      handler = std::move(found->second.handler);
      windows_.erase(found);
    }
  }
  bool find(WindowHandle handle, WindowEntry& entry) const {
    std::lock_guard lock(mutex_);
    const auto found = windows_.find(handle);
    if (found == windows_.end()) {
      return false;
    }
    entry = found->second;
    return true;
  }

 private:
  mutable std::mutex mutex_;
  WindowHandle lastHandle_ = kNoWindow;
  std::map<WindowHandle, WindowEntry> windows_;
};

WindowTable& windowTable() {
  static WindowTable table;
  return table;
}

std::shared_ptr<MessageQueue>& threadQueuePointer() {
  thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
  return queue;
}

void dispatch(const Message& message) {
  WindowEntry entry;
  if (windowTable().find(message.window, entry) && entry.handler) {
    (*entry.handler)(message);
  }
}

}  // namespace

std::size_t MessageQueue::processPending() {
  std::size_t ran = 0;
  for (;;) {
    Message message;
    {
      std::lock_guard lock(mutex_);
      if (messages_.empty()) {
        return ran;
      }
      message = messages_.front();
      messages_.pop_front();
    }
    dispatch(message);
    ++ran;
  }
}

bool MessageQueue::waitForMessage(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return queued_.wait_for(lock, timeout, [this] { return !messages_.empty(); });
}

void MessageQueue::runUntil(const std::function<bool()>& done) {
  while (!done()) {
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [this] { return !messages_.empty(); });
    }
    Message message;
    {
      std::lock_guard lock(mutex_);
      message = messages_.front();
      messages_.pop_front();
    }
    dispatch(message);
  }
}

void MessageQueue::setWakeup(std::function<void()> wakeup) {
  std::lock_guard lock(mutex_);
  wakeup_ = std::move(wakeup);
}

void MessageQueue::enqueue(const Message& message) {
  std::function<void()> wakeup;
  {
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
    wakeup = wakeup_;
  }
  queued_.notify_all();
  if (wakeup) {
    wakeup();
  }
}

bool MessageQueue::empty() const {
  std::lock_guard lock(mutex_);
  return messages_.empty();
}

MessageQueue& currentThreadQueue() {
  return *threadQueuePointer();
}

WindowHandle createMessageWindow(MessageHandler handler) {
  return windowTable().add(WindowEntry{threadQueuePointer(), std::this_thread::get_id(),
                                       std::make_shared<MessageHandler>(std::move(handler))});
}

void destroyMessageWindow(WindowHandle window) {
  windowTable().remove(window);
}

bool isWindow(WindowHandle window) {
  WindowEntry entry;
  return window != kNoWindow && windowTable().find(window, entry);
}

bool postMessage(WindowHandle window, unsigned message, WParam wParam, LParam lParam) {
  WindowEntry entry;
  if (window == kNoWindow || !windowTable().find(window, entry)) {
    return false;
  }
  entry.owner->enqueue(Message{window, message, wParam, lParam});
  return true;
}

bool sendNotifyMessage(WindowHandle window, unsigned message, WParam wParam, LParam lParam) {
  WindowEntry entry;
  if (window == kNoWindow || !windowTable().find(window, entry)) {
    return false;
  }
  const Message sent{window, message, wParam, lParam};
  if (entry.ownerThread == std::this_thread::get_id()) {
    (*entry.handler)(sent);
  } else {
    entry.owner->enqueue(sent);
  }
  return true;
}

}  // namespace orvik
