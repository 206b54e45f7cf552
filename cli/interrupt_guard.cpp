#include "cli/interrupt_guard.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string_view>

#include "commands/cmd_program.h"

namespace orvik {
namespace {

std::atomic<CmdProgram*> guarded{nullptr};
std::atomic<bool> barOnScreen{false};

constexpr std::string_view kStopLater =
    "Stopping now would leave the radio without firmware; the update will stop at the next "
    "safe point.\n";

void say(std::string_view text) {
  // write() is what a signal handler may call.
  while (!text.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written <= 0) {
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

extern "C" void onInterrupt(int number) {
  CmdProgram* program = guarded.load();
  if (program != nullptr && program->flashing()) {
    program->requestStop();
    if (barOnScreen.load()) {
      say("\n");
    }
    say(kStopLater);
    return;
  }
  // Nothing that cannot be interrupted is running: end the way Ctrl-C always does.
  std::signal(number, SIG_DFL);
  std::raise(number);
}

}  // namespace

void guardUpdateAgainstInterrupt(CmdProgram& program, bool progressBar) {
  guarded.store(&program);
  barOnScreen.store(progressBar);
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // Reads and waits of the cable go on where they were.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace orvik
