#include "cli/console_client.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "workflow/console_channel.h"
#include "workflow/update_history.h"

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

std::optional<ConsoleMessage> actionMessage(const std::string& action) {
  if (action == "enter") {
    return ConsoleMessage::EnterTestMode;
  }
  if (action == "exit") {
    return ConsoleMessage::ExitTestMode;
  }
  if (action == "start") {
    return ConsoleMessage::Start;
  }
  return std::nullopt;
}

// Sends one console message and prints the tool's lines up to its answer; the exit status of
// the action.
int exchange(Connection& connection, const std::string& action, ConsoleMessage message,
             std::ostream& out, std::ostream& err, bool json) {
  // The console's handle: this process's number, unique among the consoles of the machine.
  const auto handle = static_cast<unsigned long>(::getpid());
  std::ostringstream request;
  request << consoleMessageName(message) << ' ' << handle << ' ' << kConsoleMagic;
  if (!connection.send(request.str())) {
    err << "Cannot write to the update tool\n";
    return 1;
  }
  std::vector<std::string> lines;
  std::optional<long> updateResult;
  std::optional<long> answer;
  while (!answer) {
    const auto line = connection.readLine();
    if (!line) {
      err << "The update tool closed the connection\n";
      return 1;
    }
    if (!json) {
      out << *line << '\n' << std::flush;
    }
    lines.push_back(*line);
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
  // An update that ran reports its end before the answer; none means it was not started.
  const int status =
      message == ConsoleMessage::Start ? (updateResult == 1 ? 0 : 1) : (*answer == 1 ? 0 : 1);
  if (json) {
    out << "{\"Action\":" << jsonString(action) << ",\"Lines\":[";
    for (std::size_t i = 0; i < lines.size(); ++i) {
      out << (i == 0 ? "" : ",") << jsonString(lines[i]);
    }
    out << "],\"Answer\":" << *answer;
    if (message == ConsoleMessage::Start) {
      out << ",\"Update\":"
          << (updateResult ? (*updateResult == 1 ? "\"succeeded\"" : "\"failed\"")
                           : "\"not started\"");
    }
    out << ",\"Exit\":" << status << "}\n" << std::flush;
  }
  return status;
}

bool openConnection(Connection& connection, const std::filesystem::path& socket,
                    std::ostream& err) {
  std::string error;
  if (!connection.open(socket, error)) {
    err << "Cannot reach the update tool at " << socket.string() << ": " << error << '\n';
    return false;
  }
  return true;
}

void unknownAction(const std::string& action, std::ostream& err) {
  err << "unknown console action: " << action << " (enter, exit or start)\n";
}

}  // namespace

int runConsoleClient(const std::filesystem::path& socket, const std::string& action,
                     std::ostream& out, std::ostream& err, bool json) {
  const std::optional<ConsoleMessage> message = actionMessage(action);
  if (!message) {
    unknownAction(action, err);
    return 2;
  }
  Connection connection;
  if (!openConnection(connection, socket, err)) {
    return 1;
  }
  return exchange(connection, action, *message, out, err, json);
}

int runConsoleSession(const std::filesystem::path& socket, std::istream& in, std::ostream& out,
                      std::ostream& err, bool json) {
  Connection connection;
  if (!openConnection(connection, socket, err)) {
    return 1;
  }
  // The tool's answer to the opening line says nothing; it only comes first.
  if (!connection.send("SESSION") || !connection.readLine()) {
    err << "The update tool closed the connection\n";
    return 1;
  }
  int status = 0;
  bool inTestMode = false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string action;
    if (!(words >> action)) {
      continue;
    }
    const std::optional<ConsoleMessage> message = actionMessage(action);
    if (!message) {
      unknownAction(action, err);
      status = 2;
      continue;
    }
    const int result = exchange(connection, action, *message, out, err, json);
    if (result == 0 && *message != ConsoleMessage::Start) {
      inTestMode = *message == ConsoleMessage::EnterTestMode;
    }
    if (result != 0 && status == 0) {
      status = 1;
    }
  }
  if (inTestMode) {
    err << "The session ends without exit; the tool leaves test mode.\n";
  }
  return status;
}

}  // namespace orvik
