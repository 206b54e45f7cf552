#pragma once

namespace orvik {

// While it lives, what is typed on the terminal `fd` is not shown (a password); nothing
// happens when fd is not a terminal. The terminal gets its echo back when it ends, and also
// when the program is stopped by SIGINT, SIGTERM, SIGHUP or SIGQUIT meanwhile.
class HiddenTyping {
 public:
  explicit HiddenTyping(int fd);
  ~HiddenTyping();
  HiddenTyping(const HiddenTyping&) = delete;
  HiddenTyping& operator=(const HiddenTyping&) = delete;

  // The echo is off (the Enter that ends the line still shows).
  bool active() const { return active_; }

 private:
  bool active_ = false;
};

}  // namespace orvik
