#include "commands/keypad_script.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <mutex>
#include <thread>

#include "base/text.h"

extern char** environ;

namespace orvik {
namespace {

using std::chrono::milliseconds;

// Reads what the script writes to its standard output and error as it comes, so that a chatty
// script never blocks on a full pipe, and keeps the last bytes.
class OutputCollector {
 public:
  // Takes the pipe's read end.
  explicit OutputCollector(int readEnd) : readEnd_(readEnd) {
    ::fcntl(readEnd_, F_SETFL, ::fcntl(readEnd_, F_GETFL) | O_NONBLOCK);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ >= 0) {
      reader_ = std::thread([this] { run(); });
    }
  }
  ~OutputCollector() {
    finish();
    ::close(readEnd_);
    if (stop_ >= 0) {
      ::close(stop_);
    }
  }
  OutputCollector(const OutputCollector&) = delete;
  OutputCollector& operator=(const OutputCollector&) = delete;

  // Takes what is still in the pipe and stops reading. The script has ended by then; a process
  // that slipped out of its group may still hold the pipe, so the end of the data is not
  // waited for.
  void finish() {
    if (reader_.joinable()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
      reader_.join();
    }
  }

  std::string text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  void run() {
    for (;;) {
      pollfd entries[2] = {{readEnd_, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (::poll(entries, 2, -1) < 0) {
        if (errno == EINTR) {
          continue;
        }
        return;
      }
      // The pipe first: what the script wrote before it ended is all there.
      const bool open = drain();
      if (!open || (entries[1].revents & POLLIN) != 0) {
        return;
      }
    }
  }

  // Reads what is there; false once every writer has gone (or the pipe failed).
  bool drain() {
    std::array<char, 4096> buffer;
    for (;;) {
      const ssize_t n = ::read(readEnd_, buffer.data(), buffer.size());
      if (n > 0) {
        std::lock_guard lock(mutex_);
        text_.append(buffer.data(), static_cast<std::size_t>(n));
        if (text_.size() > KeypadScript::kOutputLimit) {
          text_.erase(0, text_.size() - KeypadScript::kOutputLimit);
        }
        continue;
      }
      if (n < 0 && errno == EINTR) {
        continue;
      }
      return n < 0 && errno == EAGAIN;
    }
  }

  int readEnd_;
  int stop_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::string text_;
};

class PosixKeypadScript final : public KeypadScript {
 public:
  PosixKeypadScript(pid_t pid, int pidfd, int outputPipe, milliseconds terminateGrace)
      : pid_(pid), pidfd_(pidfd), output_(outputPipe), terminateGrace_(terminateGrace) {}

  ~PosixKeypadScript() override {
    terminate();
    ::close(pidfd_);
  }

  std::string output() override {
    if (reaped_) {
      output_.finish();
    }
    return output_.text();
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
  OutputCollector output_;
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
    const std::filesystem::path& script, const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment) {
  // Both ends close on exec; the script gets the write end as its standard output and error.
  int output[2] = {-1, -1};
  if (::pipe2(output, O_CLOEXEC) != 0) {
    return nullptr;
  }
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
  ::posix_spawn_file_actions_adddup2(&setup.actions, output[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&setup.actions, output[1], STDERR_FILENO);

  std::string name = script.string();
  std::vector<std::string> texts = arguments;
  std::vector<char*> argv{name.data()};
  for (std::string& text : texts) {
    argv.push_back(text.data());
  }
  argv.push_back(nullptr);

  // The tool's environment, with the given entries in place of their namesakes.
  const auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> variables;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view inherited(*entry);
    const bool replaced =
        std::any_of(environment.begin(), environment.end(),
                    [&](const std::string& given) { return nameOf(given) == nameOf(inherited); });
    if (!replaced) {
      variables.emplace_back(inherited);
    }
  }
  variables.insert(variables.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& variable : variables) {
    envp.push_back(variable.data());
  }
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, name.c_str(), &setup.actions, &setup.attributes,
                                    argv.data(), envp.data());
  ::close(output[1]);
  if (spawned != 0) {
    ::close(output[0]);
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
    ::close(output[0]);
    return nullptr;
  }
  return std::make_unique<PosixKeypadScript>(pid, pidfd, output[0], terminateGrace_);
}

namespace {

// The length of the UTF-8 character at the start of `text`, or 0 when it is not one (or is
// a control character of the second range, U+0080 to U+009F).
std::size_t utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    if (lead == 0xC2) {
      low = 0xA0;
    }
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) {
      return 0;
    }
  }
  return length;
}

}  // namespace

std::vector<std::string> displayLines(std::string_view output, std::size_t maxLines,
                                      std::size_t maxChars) {
  std::vector<std::string> lines;
  std::string line;
  const auto endLine = [&] {
    const std::size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) {
      line.erase(0, first);
      line.erase(line.find_last_not_of(' ') + 1);
      lines.push_back(truncateUtf8(line, maxChars));
    }
    line.clear();
  };
  std::size_t i = 0;
  while (i < output.size()) {
    const char c = output[i];
    if (c == '\n' || c == '\r') {
      endLine();
      ++i;
    } else if (c == '\t') {
      line += ' ';
      ++i;
    } else if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) {
      line += c;
      ++i;
    } else if (const std::size_t length = utf8Length(output.substr(i)); length > 0) {
      line.append(output.substr(i, length));
      i += length;
    } else {
      // Escape sequences and stray bytes are not the script's words; they could drive the
      // terminal that shows them.
      line += '?';
      ++i;
    }
  }
  endLine();
  if (lines.size() > maxLines) {
    lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(maxLines));
  }
  return lines;
}

}  // namespace orvik
