#include "ui/end_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

namespace orvik {
namespace {

constexpr std::array<int, 3> kEndSignals = {SIGINT, SIGTERM, SIGHUP};
int pipeEnds[2] = {-1, -1};

extern "C" void onEndSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  // A full pipe already holds a request; one is enough.
  [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
  errno = savedErrno;
}

}  // namespace

EndSignals::EndSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) {
    return;  // the signals keep ending the program as usual
  }
  notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char bytes[16];
    while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
    onSignal_();
  });
  struct sigaction action {};
  action.sa_handler = onEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : kEndSignals) {
    sigaction(number, &action, nullptr);
  }
}

EndSignals::~EndSignals() {
  if (!notifier_) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int number : kEndSignals) {
    sigaction(number, &action, nullptr);
  }
  notifier_.reset();
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}

}  // namespace orvik
