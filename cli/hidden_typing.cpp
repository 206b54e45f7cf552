#include "cli/hidden_typing.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>

namespace orvik {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// One hidden entry at a time; the signal handler can only reach what lies here.
int hiddenFd = -1;
termios shownSettings{};
struct sigaction previous[sizeof kStopSignals / sizeof kStopSignals[0]];

extern "C" void restoreEchoAndStop(int number) {
  ::tcsetattr(hiddenFd, TCSANOW, &shownSettings);
  std::signal(number, SIG_DFL);
  ::raise(number);
}

}  // namespace

HiddenTyping::HiddenTyping(int fd) {
  if (hiddenFd >= 0 || ::isatty(fd) != 1 || ::tcgetattr(fd, &shownSettings) != 0) {
    return;
  }
  hiddenFd = fd;
  struct sigaction restore {};
  restore.sa_handler = restoreEchoAndStop;
  sigemptyset(&restore.sa_mask);
  for (std::size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
    ::sigaction(kStopSignals[i], &restore, &previous[i]);
  }
  termios hidden = shownSettings;
  hidden.c_lflag &= static_cast<tcflag_t>(~ECHO);
  hidden.c_lflag |= ECHONL;  // the Enter still ends the line on the screen
  active_ = ::tcsetattr(fd, TCSANOW, &hidden) == 0;
  if (!active_) {
    for (std::size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
      ::sigaction(kStopSignals[i], &previous[i], nullptr);
    }
    hiddenFd = -1;
  }
}

HiddenTyping::~HiddenTyping() {
  if (!active_) {
    return;
  }
  ::tcsetattr(hiddenFd, TCSANOW, &shownSettings);
  for (std::size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
    ::sigaction(kStopSignals[i], &previous[i], nullptr);
  }
  hiddenFd = -1;
}

}  // namespace orvik
