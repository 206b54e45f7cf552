#pragma once

#include <vector>

#include "exec/message_window.h"

namespace orvik {

// The base of the tool's message-handling objects: a hidden message window on the creating
// thread and the windows it broadcasts to.
class Event {
 public:
  Event() = default;
  virtual ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Creates the message window once, on the calling thread; returns its handle.
  virtual WindowHandle create();
  WindowHandle window() const { return window_; }
  bool created() const { return window_ != kNoWindow; }

  // Appends the window unless it is null or already listed; true for a non-null window.
  bool addListener(WindowHandle listener);
  // Removes every occurrence.
  void removeListener(WindowHandle listener);
  // Posts the message to every listener that still exists, in list order.
  void postToListeners(unsigned message, WParam wParam, LParam lParam);
  const std::vector<WindowHandle>& listeners() const { return listeners_; }

  // Progress of long work, done out of total; nothing by default.
  virtual void reportProgress(unsigned done, unsigned total);
  // A notification hook for subclasses; nothing by default.
  virtual void notify(WParam wParam, LParam lParam);

 protected:
  // Messages that reach the window, on its owner's thread.
  virtual void onMessage(const Message& message);

 private:
  WindowHandle window_ = kNoWindow;
  std::vector<WindowHandle> listeners_;
};

}  // namespace orvik
