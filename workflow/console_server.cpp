#include "workflow/console_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace orvik {
namespace {

constexpr std::size_t kMaxLine = 256;
constexpr unsigned kRequestMessage = 1402;

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

struct ConsoleServer::Connection {
  int fd = -1;
  std::string pending;
  std::optional<WParam> handle;
  bool open = true;
  std::mutex writeMutex;

  bool writeLine(const std::string& line) {
    std::lock_guard lock(writeMutex);
    if (!open) {
      return false;
    }
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n <= 0) {
        return false;
      }
      done += static_cast<std::size_t>(n);
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
  return folder / "orvik-update-tool-LACR.console";
}

bool ConsoleServer::listen(const std::filesystem::path& path, Handler handler) {
  stop();
  sockaddr_un address{};
  if (!fillAddress(path, address)) {
    error_ = "the socket path is too long: " + path.string();
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
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 8) != 0) {
    error_ = "cannot listen on " + path.string() + ": " + std::strerror(errno);
    stop();
    return false;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error_ = std::string("cannot create a pipe: ") + std::strerror(errno);
    stop();
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  path_ = path;
  handler_ = std::move(handler);
  window_ = createMessageWindow([this](const Message& message) {
    if (message.message == kRequestMessage) {
      onRequest(static_cast<std::uint64_t>(message.wParam));
    }
  });
  thread_ = std::thread([this] { serve(); });
  return true;
}

void ConsoleServer::stop() {
  if (thread_.joinable()) {
    const char wake = 'x';
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &wake, 1);
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
  for (;;) {
    std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    std::vector<std::shared_ptr<Connection>> polled;
    {
      std::lock_guard lock(mutex_);
      for (const auto& connection : connections_) {
        fds.push_back({connection->fd, POLLIN, 0});
        polled.push_back(connection);
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[0].revents != 0) {
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        std::lock_guard lock(mutex_);
        connections_.push_back(connection);
      }
    }
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if (fds[i + 2].revents != 0) {
        readFrom(polled[i]);
      }
    }
  }
}

void ConsoleServer::readFrom(const std::shared_ptr<Connection>& connection) {
  char buffer[512];
  const ssize_t n = ::recv(connection->fd, buffer, sizeof buffer, 0);
  if (n <= 0) {
    std::lock_guard lock(mutex_);
    {
      std::lock_guard writeLock(connection->writeMutex);
      connection->open = false;
      ::close(connection->fd);
    }
    std::erase(connections_, connection);
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
    connection->writeLine("ANSWER 1");
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
    if (actionRunning_ &&
        (message == ConsoleMessage::EnterTestMode || message == ConsoleMessage::ExitTestMode)) {
      held_.push_back(id);  // answered once the action has ended
      return;
    }
    request = found->second;
    requests_.erase(found);
  }
  int answer = 1;  // what is not understood is ignored
  if (request.message && handler_) {
    answer = handler_(*request.message, request.wParam, request.lParam);
  }
  request.from->writeLine("ANSWER " + std::to_string(answer));
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
  return connection != nullptr &&
         connection->writeLine(std::string(consoleMessageName(message)) + " " +
                               std::to_string(wParam) + " " + std::to_string(lParam));
}

}  // namespace orvik
