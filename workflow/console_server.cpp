#include "workflow/console_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "errors/error_log.h"

namespace orvik {
namespace {

constexpr std::size_t kMaxLine = 256;
constexpr unsigned kRequestMessage = 1402;
// A console that sends faster than its requests are answered is read no further until they
// are; one that does not read its answers is dropped once this much waits for it.
constexpr std::size_t kMaxWaitingRequests = 16;
constexpr std::size_t kMaxUnsentBytes = 64 * 1024;
// Out of file handles, new connections wait this long instead of being retried at once.
constexpr int kAcceptPauseMs = 200;
constexpr const char kWakeByte = 'w';
// The first line of a console that keeps its connection.
constexpr const char* kSessionLine = "SESSION";

bool fillAddress(const std::filesystem::path& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.size() >= sizeof address.sun_path) {
    return false;
  }
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return true;
}

template <typename Number>
bool parseNumber(const std::string& text, Number& value) {
  const char* end = text.data() + text.size();
  return !text.empty() && std::from_chars(text.data(), end, value).ptr == end;
}

}  // namespace

// One console. Its socket never blocks: what the console does not take at once waits in
// unsent and goes out as it reads, up to a bound.
struct ConsoleServer::Connection {
  int fd = -1;
  std::string pending;
  std::optional<WParam> handle;
  bool open = true;
  bool session = false;
  // Requests of this console not answered yet.
  std::size_t waiting = 0;
  std::mutex writeMutex;
  std::string unsent;

  // False when the console is gone or no longer reads; it is then dropped.
  bool writeLine(const std::string& line) {
    std::lock_guard lock(writeMutex);
    if (!open) {
      return false;
    }
    unsent += line + "\n";
    return flushLocked();
  }
  bool flush() {
    std::lock_guard lock(writeMutex);
    return open && flushLocked();
  }
  bool hasUnsent() {
    std::lock_guard lock(writeMutex);
    return !unsent.empty();
  }

 private:
  bool flushLocked() {
    while (!unsent.empty()) {
      const ssize_t n = ::send(fd, unsent.data(), unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        unsent.erase(0, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return unsent.size() <= kMaxUnsentBytes;
      }
      return false;
    }
    return true;
  }
};

ConsoleServer::~ConsoleServer() {
  stop();
}

std::filesystem::path ConsoleServer::defaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path folder = runtime != nullptr && *runtime != '\0' ? runtime : "/tmp";
  // A folder of the user's own: in a shared /tmp another user could otherwise take the name.
  return folder / ("orvik-update-tool-" + std::to_string(::geteuid())) / "LACR.console";
}

bool ConsoleServer::preparePrivateFolder(const std::filesystem::path& folder, std::string& error) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + folder.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = folder.string() + " is not a folder";
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    error = "the folder " + folder.string() + " belongs to another user; it is not used";
    return false;
  }
  if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    error = "cannot make " + folder.string() + " private: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ConsoleServer::listen(const std::filesystem::path& path, Handler handler, GoneHandler gone) {
  stop();
  sockaddr_un address{};
  if (!fillAddress(path, address)) {
    error_ = "the socket path is too long: " + path.string();
    return false;
  }
  if (path.parent_path() == defaultSocketPath().parent_path() &&
      !preparePrivateFolder(path.parent_path(), error_)) {
    return false;
  }
  // Somebody else's socket at the name is not ours to replace.
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0 && existing.st_uid != ::geteuid()) {
    error_ = "the console socket " + path.string() + " belongs to another user (" +
             std::to_string(existing.st_uid) + "); it is left alone";
    return false;
  }
  // A socket file nobody answers on is left over from a run that ended abruptly.
  const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe >= 0) {
    const bool live =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (live) {
      error_ = "another tool already listens on " + path.string();
      return false;
    }
  }
  ::unlink(path.c_str());
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // The socket is the user's alone from the moment it exists.
  const mode_t mask = ::umask(0177);
  const bool bound =
      listenFd_ >= 0 &&
      ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::umask(mask);
  if (!bound || ::listen(listenFd_, 8) != 0) {
    error_ = "cannot listen on " + path.string() + ": " + std::strerror(errno);
    stop();
    return false;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error_ = std::string("cannot create a pipe: ") + std::strerror(errno);
    stop();
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  path_ = path;
  handler_ = std::move(handler);
  gone_ = std::move(gone);
  window_ = createMessageWindow([this](const Message& message) {
    if (message.message == kRequestMessage) {
      onRequest(static_cast<std::uint64_t>(message.wParam));
    }
  });
  stopping_ = false;
  thread_ = std::thread([this] { serve(); });
  return true;
}

void ConsoleServer::stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    wake();
    thread_.join();
  }
  for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
  }
  if (window_ != kNoWindow) {
    destroyMessageWindow(window_);
    window_ = kNoWindow;
  }
  std::lock_guard lock(mutex_);
  for (const auto& connection : connections_) {
    std::lock_guard writeLock(connection->writeMutex);
    connection->open = false;
    ::close(connection->fd);
  }
  connections_.clear();
  requests_.clear();
  held_.clear();
  if (!path_.empty()) {
    ::unlink(path_.c_str());
    path_.clear();
  }
}

void ConsoleServer::serve() {
  std::chrono::steady_clock::time_point acceptAgain{};
  for (;;) {
    const bool accepting = std::chrono::steady_clock::now() >= acceptAgain;
    std::vector<pollfd> fds{{wakeRead_, POLLIN, 0},
                            {listenFd_, static_cast<short>(accepting ? POLLIN : 0), 0}};
    std::vector<std::shared_ptr<Connection>> polled;
    {
      std::lock_guard lock(mutex_);
      for (const auto& connection : connections_) {
        // A console with enough requests waiting is read again once they are answered.
        const short events =
            static_cast<short>((connection->waiting < kMaxWaitingRequests ? POLLIN : 0) |
                               (connection->hasUnsent() ? POLLOUT : 0));
        fds.push_back({connection->fd, events, 0});
        polled.push_back(connection);
      }
    }
    if (::poll(fds.data(), fds.size(), accepting ? -1 : kAcceptPauseMs) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      char drained[64];
      while (::read(wakeRead_, drained, sizeof drained) > 0) {
      }
    }
    if (stopping_) {
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      accept(acceptAgain);
    }
    for (std::size_t i = 0; i < polled.size(); ++i) {
      const short revents = fds[i + 2].revents;
      if ((revents & POLLOUT) != 0 && !polled[i]->flush()) {
        drop(polled[i]);
        continue;
      }
      if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        readFrom(polled[i]);
      }
    }
  }
}

void ConsoleServer::accept(std::chrono::steady_clock::time_point& acceptAgain) {
  const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // The connection stays queued; trying again at once would only spin.
      acceptAgain = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAcceptPauseMs);
    }
    return;
  }
  // Only programs of the same user drive this tool.
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
    errorLog().logLine("Error:a console of another user [%d] was turned away.",
                       static_cast<int>(peer.uid));
    ::close(fd);
    return;
  }
  auto connection = std::make_shared<Connection>();
  connection->fd = fd;
  std::lock_guard lock(mutex_);
  connections_.push_back(connection);
}

void ConsoleServer::drop(const std::shared_ptr<Connection>& connection) {
  std::optional<std::uint64_t> gone;
  {
    std::lock_guard lock(mutex_);
    bool closed = false;
    {
      std::lock_guard writeLock(connection->writeMutex);
      if (connection->open) {
        connection->open = false;
        closed = true;
        ::close(connection->fd);
      }
    }
    std::erase(connections_, connection);
    if (closed && connection->session && connection->handle) {
      Request request;
      request.gone = true;
      request.wParam = *connection->handle;
      gone = ++nextRequest_;
      requests_[*gone] = request;
    }
  }
  if (gone) {
    postMessage(window_, kRequestMessage, static_cast<WParam>(*gone), 0);
  }
}

void ConsoleServer::readFrom(const std::shared_ptr<Connection>& connection) {
  char buffer[512];
  const ssize_t n = ::recv(connection->fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return;
  }
  if (n <= 0) {
    drop(connection);
    return;
  }
  connection->pending.append(buffer, static_cast<std::size_t>(n));
  std::size_t end;
  while ((end = connection->pending.find('\n')) != std::string::npos) {
    std::string line = connection->pending.substr(0, end);
    connection->pending.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    handleLine(connection, line);
  }
  if (connection->pending.size() > kMaxLine) {
    connection->pending.clear();  // no line is that long; drop the noise
    if (!connection->writeLine("ANSWER 1")) {
      drop(connection);
    }
  }
}

void ConsoleServer::handleLine(const std::shared_ptr<Connection>& connection,
                               const std::string& line) {
  std::istringstream in(line);
  std::string name, wText, lText, extra;
  in >> name >> wText >> lText >> extra;
  Request request;
  request.from = connection;
  request.message = consoleMessageFromName(name);
  if (line == kSessionLine) {
    connection->session = true;  // answered like any line that is not a message
  }
  if (!extra.empty() || !parseNumber(wText, request.wParam) ||
      !parseNumber(lText, request.lParam)) {
    request.message.reset();
  }
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    // The first message of a connection claims its handle, unless another console holds it.
    if (request.message && !connection->handle) {
      bool taken = false;
      for (const auto& other : connections_) {
        taken = taken || (other != connection && other->handle == request.wParam);
      }
      if (!taken) {
        connection->handle = request.wParam;
      }
    }
    id = ++nextRequest_;
    requests_[id] = request;
    ++connection->waiting;
  }
  postMessage(window_, kRequestMessage, static_cast<WParam>(id), 0);
}

void ConsoleServer::onRequest(std::uint64_t id) {
  Request request;
  {
    std::lock_guard lock(mutex_);
    const auto found = requests_.find(id);
    if (found == requests_.end()) {
      return;
    }
    const std::optional<ConsoleMessage> message = found->second.message;
    if (actionRunning_ && (message == ConsoleMessage::EnterTestMode ||
                           message == ConsoleMessage::ExitTestMode || found->second.gone)) {
      held_.push_back(id);  // answered once the action has ended
      return;
    }
    request = found->second;
    requests_.erase(found);
  }
  if (request.gone) {
    if (gone_) {
      gone_(request.wParam);
    }
    return;
  }
  int answer = 1;  // what is not understood is ignored
  if (request.message && handler_) {
    answer = handler_(*request.message, request.wParam, request.lParam);
  }
  answerTo(request.from, "ANSWER " + std::to_string(answer));
}

void ConsoleServer::answerTo(const std::shared_ptr<Connection>& connection,
                             const std::string& line) {
  {
    std::lock_guard lock(mutex_);
    if (connection->waiting > 0) {
      --connection->waiting;
    }
  }
  if (!connection->writeLine(line)) {
    drop(connection);
  }
  // The serving thread looks again: the console may be read again, or its answer wait.
  wake();
}

void ConsoleServer::wake() {
  // A full pipe already wakes the thread; the byte is not needed then.
  [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &kWakeByte, 1);
}

void ConsoleServer::setActionRunning(bool running) {
  actionRunning_ = running;
  if (running || window_ == kNoWindow) {
    return;
  }
  // In the order they came, after whatever is queued already.
  for (const std::uint64_t id : held_) {
    postMessage(window_, kRequestMessage, static_cast<WParam>(id), 0);
  }
  held_.clear();
}

std::shared_ptr<ConsoleServer::Connection> ConsoleServer::claimedBy(WParam handle) {
  std::lock_guard lock(mutex_);
  for (const auto& connection : connections_) {
    if (connection->handle == handle && connection->open) {
      return connection;
    }
  }
  return nullptr;
}

bool ConsoleServer::isConsole(WParam handle) {
  return claimedBy(handle) != nullptr;
}

bool ConsoleServer::post(WParam console, ConsoleMessage message, WParam wParam, LParam lParam) {
  const auto connection = claimedBy(console);
  if (connection == nullptr) {
    return false;
  }
  const bool written = connection->writeLine(std::string(consoleMessageName(message)) + " " +
                                             std::to_string(wParam) + " " + std::to_string(lParam));
  if (!written) {
    drop(connection);
  }
  wake();
  return written;
}

}  // namespace orvik
