#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace orvik {
namespace {

constexpr std::string_view kRaiseRequest = "RAISE\n";
// A client that connects and says nothing must not hold the listener up for long.
constexpr std::chrono::milliseconds kRequestDeadline{1000};

bool socketAddress(const std::filesystem::path& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.empty() || text.size() >= sizeof address.sun_path) {
    return false;
  }
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return true;
}

void closeFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

}  // namespace

std::filesystem::path instanceRuntimeDir(const std::optional<std::string>& override) {
  if (override && !override->empty()) {
    return *override;
  }
  if (const char* env = std::getenv("ORVIK_RUNTIME_DIR"); env != nullptr && *env != '\0') {
    return env;
  }
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg == '/') {
    return xdg;
  }
  const std::filesystem::path own =
      std::filesystem::path("/tmp") / ("orvik-update-tool-" + std::to_string(::geteuid()));
  return ensurePrivateFolder(own) ? own : std::filesystem::path();
}

bool ensurePrivateFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return false;
  }
  // lstat, so that a symbolic link planted under the name is refused rather than followed.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    return false;
  }
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

SingleInstance::~SingleInstance() {
  release();
}

SingleInstance::State SingleInstance::acquire(const std::filesystem::path& folder,
                                              const std::string& name, RaiseHandler onRaise) {
  release();
  state_ = State::Failed;
  if (folder.empty()) {
    return state_;
  }
  lockPath_ = folder / (name + ".lock");
  socketPath_ = folder / (name + ".sock");
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);

  // Close-on-exec, so that a program the tool starts (the keypad boot-loader) cannot keep
  // the lock alive after the tool has ended.
  lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd_ < 0) {
    return state_;
  }
  int locked;
  do {
    locked = ::flock(lockFd_, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked == 0) {
    state_ = State::Owner;
    onRaise_ = std::move(onRaise);
    startListener();
  } else if (errno == EWOULDBLOCK) {
    // The descriptor stays open until release, as the lock's handle would.
    state_ = State::OtherRunning;
  } else {
    closeFd(lockFd_);
  }
  return state_;
}

void SingleInstance::startListener() {
  sockaddr_un address;
  if (!socketAddress(socketPath_, address)) {
    return;
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) {
    return;
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  // Holding the lock makes this the only owner, so a socket left by a crashed one can go.
  ::unlink(socketPath_.c_str());
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    closeFd(listenFd_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
    return;
  }
  if (::listen(listenFd_, 4) != 0) {
    closeFd(listenFd_);
    ::unlink(socketPath_.c_str());
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
    return;
  }
  try {
    listener_ = std::thread(&SingleInstance::listen, this);
  } catch (const std::system_error&) {
    closeFd(listenFd_);
    ::unlink(socketPath_.c_str());
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
  }
}

void SingleInstance::listen() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    if ((fds[0].revents & POLLIN) == 0) {
      return;  // the socket failed; raising is lost, the lock still holds
    }
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) {
        continue;
      }
      // Out of descriptors or the like: the pending connection would wake poll at once
      // again and again, so stop listening rather than spin.
      return;
    }
    const bool raise = readRequest(client);
    ::close(client);
    if (raise && onRaise_) {
      onRaise_();
    }
  }
}

bool SingleInstance::readRequest(int client) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + kRequestDeadline;
  std::string line;
  char buffer[16];
  while (line.size() < kRaiseRequest.size() && line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return false;
    }
    pollfd fds[2] = {{client, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0 || fds[1].revents != 0) {
      return false;
    }
    const ssize_t got = ::read(client, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    line.append(buffer, static_cast<std::size_t>(got));
  }
  return line == kRaiseRequest;
}

bool SingleInstance::askOwnerToRaise() const {
  sockaddr_un address;
  if (!socketAddress(socketPath_, address)) {
    return false;
  }
  // Non-blocking, so that an owner that has stopped accepting cannot hold this start up.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    return false;
  }
  bool sent = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    sent = ::send(fd, kRaiseRequest.data(), kRaiseRequest.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(kRaiseRequest.size());
  }
  ::close(fd);
  return sent;
}

void SingleInstance::release() {
  if (listener_.joinable()) {
    const char wake = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &wake, 1);
    listener_.join();
  }
  if (listenFd_ >= 0) {
    closeFd(listenFd_);
    // Only the owner ever bound the socket; it goes before the lock, so that the next owner
    // never finds its own socket removed.
    ::unlink(socketPath_.c_str());
  }
  closeFd(wakeRead_);
  closeFd(wakeWrite_);
  // The lock file itself stays: removing it while another start has it open would let two
  // processes lock two different files of the same name.
  closeFd(lockFd_);
  onRaise_ = nullptr;
  state_ = State::None;
}

}  // namespace orvik
