#include "cli/interrupt_guard.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <string_view>

#include "commands/cmd_program.h"
#include "commands/cmd_restore_personality.h"

namespace orvik {
namespace {

constexpr std::array<int, 3> kEndSignals = {SIGINT, SIGTERM, SIGHUP};

std::atomic<CmdProgram*> guardedUpdate{nullptr};
std::atomic<CmdRestorePersonality*> guardedRestore{nullptr};
std::atomic<std::atomic<bool>*> stopFlag{nullptr};
std::atomic<bool> barOnScreen{false};

constexpr std::string_view kStopLater =
    "Stopping now would leave the radio without firmware; the update will stop at the next "
    "safe point.\n";
constexpr std::string_view kRestoreFirst =
    "Stopping now would leave the radio with part of its personality; the restore ends "
    "first.\n";

void say(std::string_view text) {
  // write() is what a signal handler may call. A terminal that went away (SIGHUP) takes
  // nothing; the work goes on without it.
  while (!text.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written <= 0) {
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void sayBelowBar(std::string_view text) {
  if (barOnScreen.load()) {
    say("\n");
  }
  say(text);
}

extern "C" void onEndSignal(int number) {
  const int savedErrno = errno;
  CmdProgram* program = guardedUpdate.load();
  CmdRestorePersonality* restore = guardedRestore.load();
  if (std::atomic<bool>* stop = stopFlag.load(); stop != nullptr) {
    stop->store(true);
    if (program != nullptr) {
      if (program->flashing()) {
        sayBelowBar(kStopLater);
      }
      program->requestStop();
    }
    errno = savedErrno;
    return;
  }
  if (program != nullptr && program->flashing()) {
    program->requestStop();
    sayBelowBar(kStopLater);
    errno = savedErrno;
    return;
  }
  if (restore != nullptr && restore->writing()) {
    sayBelowBar(kRestoreFirst);
    errno = savedErrno;
    return;
  }
  // Nothing that cannot be interrupted is running: end the way the signal always does.
  std::signal(number, SIG_DFL);
  std::raise(number);
}

void handleEndSignals() {
  struct sigaction action {};
  action.sa_handler = onEndSignal;
  sigemptyset(&action.sa_mask);
  for (const int number : kEndSignals) {
    sigaddset(&action.sa_mask, number);  // one handler at a time
  }
  // Reads and waits of the cable go on where they were.
  action.sa_flags = SA_RESTART;
  for (const int number : kEndSignals) {
    sigaction(number, &action, nullptr);
  }
  // A reader of its output that went away (a pipe to tee ended by the same Ctrl-C) must not
  // end the tool either: its writes fail instead.
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

void guardUpdateAgainstInterrupt(CmdProgram& program, bool progressBar) {
  guardedUpdate.store(&program);
  barOnScreen.store(progressBar);
  handleEndSignals();
}

void guardRestoreAgainstInterrupt(CmdRestorePersonality& restore, bool progressBar) {
  guardedRestore.store(&restore);
  barOnScreen.store(progressBar);
  handleEndSignals();
}

void stopAtSafePointOnInterrupt(CmdProgram& program, std::atomic<bool>& stop) {
  guardedUpdate.store(&program);
  stopFlag.store(&stop);
  barOnScreen.store(false);
  handleEndSignals();
}

}  // namespace orvik
