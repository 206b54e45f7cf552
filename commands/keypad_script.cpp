#include "commands/keypad_script.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

extern char** environ;

namespace orvik {
namespace {

using std::chrono::milliseconds;

class PosixKeypadScript final : public KeypadScript {
 public:
  PosixKeypadScript(pid_t pid, int pidfd, milliseconds terminateGrace)
      : pid_(pid), pidfd_(pidfd), terminateGrace_(terminateGrace) {}

  ~PosixKeypadScript() override {
    terminate();
    ::close(pidfd_);
  }

  std::optional<int> exitCode(milliseconds wait) override {
    if (!reaped_) {
      if (!waitForExit(wait)) {
        return std::nullopt;
      }
      // Whatever the script left running in its group would keep the cable busy while the
      // tool reconnects. The script is not reaped yet, so its group id cannot have been reused.
      ::kill(-pid_, SIGKILL);
      reap();
    }
    if (!WIFEXITED(status_)) {
      return std::nullopt;
    }
    return WEXITSTATUS(status_);
  }

  void terminate() override {
    if (reaped_) {
      return;
    }
    if (!waitForExit(milliseconds(0))) {
      ::kill(-pid_, SIGTERM);
      waitForExit(terminateGrace_);
    }
    ::kill(-pid_, SIGKILL);
    reap();
  }

 private:
  // True once the script has ended (it may not be reaped yet); waits at most `wait`.
  bool waitForExit(milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd entry{pidfd_, POLLIN, 0};
      const auto timeout = std::clamp<milliseconds::rep>(left.count(), 0, INT_MAX);
      const int ready = ::poll(&entry, 1, static_cast<int>(timeout));
      if (ready > 0) {
        return true;
      }
      if (ready == 0 || errno != EINTR) {
        return false;
      }
    }
  }

  void reap() {
    int status = 0;
    pid_t result = 0;
    do {
      result = ::waitpid(pid_, &status, 0);
    } while (result < 0 && errno == EINTR);
    // A failed wait (someone else reaped it) leaves no exit code to believe.
    status_ = result == pid_ ? status : -1;
    reaped_ = true;
  }

  pid_t pid_;
  int pidfd_;
  milliseconds terminateGrace_;
  bool reaped_ = false;
  int status_ = -1;
};

// The spawn's attribute and file-action objects, released on every way out.
struct SpawnSetup {
  SpawnSetup() {
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
};

}  // namespace

std::unique_ptr<KeypadScript> PosixKeypadScriptLauncher::start(
    const std::filesystem::path& script, const std::vector<std::string>& arguments) {
  SpawnSetup setup;
  // A group of its own, so that ending the script also ends the tool it runs. Signals the tool
  // blocks or ignores are not passed on, so that SIGTERM reaches the script.
  ::posix_spawnattr_setflags(
      &setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  ::posix_spawnattr_setpgroup(&setup.attributes, 0);
  sigset_t signals;
  sigemptyset(&signals);
  ::posix_spawnattr_setsigmask(&setup.attributes, &signals);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD}) {
    sigaddset(&signals, signal);
  }
  ::posix_spawnattr_setsigdefault(&setup.attributes, &signals);
  ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);

  std::string name = script.string();
  std::vector<std::string> texts = arguments;
  std::vector<char*> argv{name.data()};
  for (std::string& text : texts) {
    argv.push_back(text.data());
  }
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (::posix_spawn(&pid, name.c_str(), &setup.actions, &setup.attributes, argv.data(), environ) !=
      0) {
    return nullptr;
  }
  // The process descriptor lets the exit be waited for with a deadline. Without one (a
  // kernel before 5.3) the script is ended at once rather than left unwatched.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return nullptr;
  }
  return std::make_unique<PosixKeypadScript>(pid, pidfd, terminateGrace_);
}

}  // namespace orvik
