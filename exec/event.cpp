#include "exec/event.h"

#include <algorithm>

namespace orvik {

Event::~Event() {
  if (window_ != kNoWindow) {
    destroyMessageWindow(window_);
  }
}

WindowHandle Event::create() {
  if (window_ == kNoWindow) {
    window_ = createMessageWindow([this](const Message& message) { onMessage(message); });
  }
  return window_;
}

bool Event::addListener(WindowHandle listener) {
  if (listener == kNoWindow) {
    return false;
  }
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
    listeners_.push_back(listener);
  }
  return true;
}

void Event::removeListener(WindowHandle listener) {
  std::erase(listeners_, listener);
}

void Event::postToListeners(unsigned message, WParam wParam, LParam lParam) {
  for (const WindowHandle listener : listeners_) {
    if (isWindow(listener)) {
      postMessage(listener, message, wParam, lParam);
    }
  }
}

void Event::reportProgress(unsigned, unsigned) {}

void Event::notify(WParam, LParam) {}

void Event::onMessage(const Message&) {}

}  // namespace orvik
