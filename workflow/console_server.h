#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "workflow/console_channel.h"

namespace orvik {

// The tool's end of the console protocol: a Unix-domain stream socket on which each console
// sends one line "NAME WPARAM LPARAM" per message and gets "ANSWER N" back; the tool's own
// messages to a console go to it as lines of the same form. A console is known by the handle
// it sends as wParam: the first message of a connection claims it. A console that opens with
// the line "SESSION" keeps its connection for all its messages; when it goes away, the tool is
// told.
class ConsoleServer final : public ConsoleChannel {
 public:
  // Runs on the thread that called listen, one message at a time; returns the answer.
  using Handler = std::function<int(ConsoleMessage, WParam, LParam)>;
  // Runs on the same thread with the handle a session's console claimed, once it is gone.
  using GoneHandler = std::function<void(WParam)>;

  ConsoleServer() = default;
  ~ConsoleServer() override;
  ConsoleServer(const ConsoleServer&) = delete;
  ConsoleServer& operator=(const ConsoleServer&) = delete;

  // <runtime dir>/orvik-update-tool-<uid>/LACR.console, the runtime dir being
  // XDG_RUNTIME_DIR or /tmp; the folder is the user's alone (0700).
  static std::filesystem::path defaultSocketPath();
  // Makes the folder (0700) or checks that it is the user's own and private; false with the
  // reason otherwise.
  static bool preparePrivateFolder(const std::filesystem::path& folder, std::string& error);

  // Listens on the path (a stale socket file left by a crashed run is replaced; a live one, or
  // one of another user, is not) and hands messages to the handler on the calling thread. The
  // socket is the user's alone (0600), and consoles of other users are turned away. False
  // with a reason in error() when it cannot listen.
  bool listen(const std::filesystem::path& path, Handler handler, GoneHandler gone = {});
  void stop();
  const std::string& error() const { return error_; }

  bool isConsole(WParam handle) override;
  bool post(WParam console, ConsoleMessage message, WParam wParam, LParam lParam) override;
  void setActionRunning(bool running) override;

 private:
  struct Connection;
  struct Request {
    std::shared_ptr<Connection> from;
    std::optional<ConsoleMessage> message;
    // Not a message: the session that claimed wParam has gone.
    bool gone = false;
    WParam wParam = 0;
    LParam lParam = 0;
  };

  void serve();
  void accept(std::chrono::steady_clock::time_point& acceptAgain);
  void drop(const std::shared_ptr<Connection>& connection);
  void answerTo(const std::shared_ptr<Connection>& connection, const std::string& line);
  // Makes the serving thread look at its connections again.
  void wake();
  void readFrom(const std::shared_ptr<Connection>& connection);
  void handleLine(const std::shared_ptr<Connection>& connection, const std::string& line);
  void onRequest(std::uint64_t id);
  std::shared_ptr<Connection> claimedBy(WParam handle);

  std::filesystem::path path_;
  std::string error_;
  Handler handler_;
  GoneHandler gone_;
  // On the thread that listens: whether an action runs, and the requests held until it ends.
  bool actionRunning_ = false;
  std::vector<std::uint64_t> held_;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> stopping_{false};
  WindowHandle window_ = kNoWindow;
  std::thread thread_;

  std::mutex mutex_;
  std::vector<std::shared_ptr<Connection>> connections_;
  std::map<std::uint64_t, Request> requests_;
  std::uint64_t nextRequest_ = 0;
};

}  // namespace orvik
