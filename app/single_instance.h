#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace orvik {

// The folder the instance lock lies in: the given folder, else ORVIK_RUNTIME_DIR, else
// XDG_RUNTIME_DIR, else a folder of the user's own below /tmp ("orvik-update-tool-<uid>").
std::filesystem::path instanceRuntimeDir(const std::optional<std::string>& override);

// Makes sure the folder is the user's own and closed to everyone else, creating it (mode
// 0700) when it is missing. A shared folder such as /tmp would otherwise let another user
// plant the lock or its socket.
bool ensurePrivateFolder(const std::filesystem::path& folder);

// One running tool per user: a lock file taken with flock() on a descriptor held for the
// run, so the lock ends with its process and a crash leaves nothing stale behind. The owner
// listens on a Unix-domain socket beside the lock; a later start that finds the lock taken
// sends it one line, "RAISE\n", so the running tool can bring its window forward.
class SingleInstance {
 public:
  enum class State {
    None,          // acquire has not run (or release has)
    Owner,         // this process holds the lock
    OtherRunning,  // another process holds it
    Failed,        // the lock file could not be opened or locked
  };
  // Called on the listener's own thread, once per RAISE request.
  using RaiseHandler = std::function<void()>;

  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes <folder>/<name>.lock. The owner then listens on <folder>/<name>.sock; when the
  // socket cannot be set up the lock still holds, only the raising is lost.
  State acquire(const std::filesystem::path& folder, const std::string& name, RaiseHandler onRaise);
  // For a later start: asks the owner to raise its window. Never blocks; true when the
  // request went out.
  bool askOwnerToRaise() const;
  // Stops listening, removes the socket (the owner only) and gives the lock up.
  void release();

  State state() const { return state_; }
  bool listening() const { return listener_.joinable(); }
  const std::filesystem::path& lockPath() const { return lockPath_; }
  const std::filesystem::path& socketPath() const { return socketPath_; }

 private:
  void startListener();
  void listen();
  // Reads the one request line of a client; true when it asks for a raise.
  bool readRequest(int client);

  State state_ = State::None;
  std::filesystem::path lockPath_;
  std::filesystem::path socketPath_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  RaiseHandler onRaise_;
  std::thread listener_;
};

}  // namespace orvik
