#include "cli/console_client.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include "workflow/console_channel.h"

namespace orvik {
namespace {

class Connection {
 public:
  ~Connection() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  bool open(const std::filesystem::path& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) {
      error = "the socket path is too long";
      return false;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    // A socket another user put there is not a tool of this user's.
    struct stat info {};
    if (::lstat(text.c_str(), &info) == 0 && info.st_uid != ::geteuid()) {
      error = "the socket belongs to another user (" + std::to_string(info.st_uid) + ")";
      return false;
    }
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address)) {
      error = std::strerror(errno);
      return false;
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
      error = "the program on the socket runs as another user";
      return false;
    }
    return true;
  }
  bool send(const std::string& line) {
    const std::string text = line + "\n";
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // The next line from the tool; none when it closed the connection.
  std::optional<std::string> readLine() {
    for (;;) {
      const auto end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      char chunk[256];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) {
        return std::nullopt;
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace

int runConsoleClient(const std::filesystem::path& socket, const std::string& action,
                     std::ostream& out, std::ostream& err) {
  ConsoleMessage message;
  if (action == "enter") {
    message = ConsoleMessage::EnterTestMode;
  } else if (action == "exit") {
    message = ConsoleMessage::ExitTestMode;
  } else if (action == "start") {
    message = ConsoleMessage::Start;
  } else {
    err << "unknown console action: " << action << " (enter, exit or start)\n";
    return 2;
  }
  Connection connection;
  std::string error;
  if (!connection.open(socket, error)) {
    err << "Cannot reach the update tool at " << socket.string() << ": " << error << '\n';
    return 1;
  }
  // The console's handle: this process's number, unique among the consoles of the machine.
  const auto handle = static_cast<unsigned long>(::getpid());
  std::ostringstream request;
  request << consoleMessageName(message) << ' ' << handle << ' ' << kConsoleMagic;
  if (!connection.send(request.str())) {
    err << "Cannot write to the update tool\n";
    return 1;
  }
  std::optional<long> updateResult;
  std::optional<long> answer;
  while (!answer) {
    const auto line = connection.readLine();
    if (!line) {
      err << "The update tool closed the connection\n";
      return 1;
    }
    out << *line << '\n' << std::flush;
    std::istringstream words(*line);
    std::string name;
    long wParam = 0;
    long lParam = 0;
    words >> name >> wParam;
    if (name == "ANSWER") {
      answer = wParam;
    } else if (name == consoleMessageName(ConsoleMessage::End) && words >> lParam) {
      updateResult = lParam;
    }
  }
  if (message == ConsoleMessage::Start) {
    // An update that ran reports its end before the answer; none means it was not started.
    return updateResult == 1 ? 0 : 1;
  }
  return *answer == 1 ? 0 : 1;
}

}  // namespace orvik
