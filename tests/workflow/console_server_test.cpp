// The console socket: requests that would change the test mode wait while an action runs.
#include "workflow/console_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "tests/package/temp_folder.h"

namespace orvik {
namespace {

// A connected client socket, or -1.
int connectTo(const std::filesystem::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

constexpr uid_t kOtherUser = 65534;

class ConsoleServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.listen(folder.path() / "console", [this](ConsoleMessage m, WParam, LParam) {
      handled.push_back(m);
      return 1;
    })) << server.error();
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (folder.path() / "console").string();
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  }
  void TearDown() override {
    ::close(fd);
    server.stop();
  }

  void send(const std::string& lines) {
    ASSERT_EQ(::write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  }
  // Runs this thread's messages until `count` requests were handled (or nothing comes).
  void handleUntil(std::size_t count) {
    while (handled.size() < count &&
           currentThreadQueue().waitForMessage(std::chrono::seconds(10))) {
      currentThreadQueue().processPending();
    }
  }
  // The answer lines received so far, waiting for at least one.
  std::string answers() {
    pollfd p{fd, POLLIN, 0};
    std::string text;
    char buffer[256];
    while (::poll(&p, 1, text.empty() ? 10000 : 0) == 1) {
      const ssize_t n = ::read(fd, buffer, sizeof(buffer));
      if (n <= 0) {
        break;
      }
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }

  testing::TempFolder folder;
  ConsoleServer server;
  std::vector<ConsoleMessage> handled;
  int fd = -1;
};

TEST_F(ConsoleServerTest, TestModeRequestsWaitForTheRunningAction) {
  server.setActionRunning(true);
  send("WM_TOOL_UPDATE_ENTER_TEST_MODE 77 4619\nWM_TOOL_UPDATE_START 77 4619\n");
  // The START is handled at once (the controller ignores it while busy); the ENTER waits.
  handleUntil(1);
  EXPECT_EQ(handled, std::vector<ConsoleMessage>{ConsoleMessage::Start});
  EXPECT_EQ(answers(), "ANSWER 1\n");

  server.setActionRunning(false);
  handleUntil(2);
  EXPECT_EQ(handled,
            (std::vector<ConsoleMessage>{ConsoleMessage::Start, ConsoleMessage::EnterTestMode}));
  EXPECT_EQ(answers(), "ANSWER 1\n");
}

// A console that opened with SESSION is reported gone, with the handle it claimed, once its
// connection closes; a console of single messages is not.
TEST(ConsoleServerSessions, OnlyASessionIsReportedGone) {
  testing::TempFolder folder;
  const std::filesystem::path socket = folder.path() / "console";
  ConsoleServer server;
  std::vector<WParam> gone;
  ASSERT_TRUE(server.listen(
      socket, [](ConsoleMessage, WParam, LParam) { return 1; },
      [&](WParam handle) { gone.push_back(handle); }))
      << server.error();
  const auto exchange = [](int fd, const std::string& lines, const std::string& expected) {
    ASSERT_EQ(::write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    std::string answered;
    char buffer[256];
    while (answered.size() < expected.size()) {
      while (currentThreadQueue().processPending() > 0) {
      }
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 0) == 1) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        ASSERT_GT(n, 0);
        answered.append(buffer, static_cast<std::size_t>(n));
      } else {
        currentThreadQueue().waitForMessage(std::chrono::seconds(10));
      }
    }
    EXPECT_EQ(answered, expected);
  };
  const int single = connectTo(socket);
  const int session = connectTo(socket);
  ASSERT_GE(single, 0);
  ASSERT_GE(session, 0);
  exchange(single, "WM_TOOL_UPDATE_ENTER_TEST_MODE 78 4619\n", "ANSWER 1\n");
  exchange(session, "SESSION\nWM_TOOL_UPDATE_ENTER_TEST_MODE 77 4619\n", "ANSWER 1\nANSWER 1\n");
  // The single console closes first, so whatever it caused would be reported first.
  ::close(single);
  ::close(session);
  while (gone.empty() && currentThreadQueue().waitForMessage(std::chrono::seconds(10))) {
    currentThreadQueue().processPending();
  }
  EXPECT_EQ(gone, std::vector<WParam>{77});
  server.stop();
}

// The socket and its folder are the user's alone; somebody else's socket is not replaced and
// somebody else's console is turned away.
TEST(ConsoleServerSecurity, TheSocketIsPrivateAndOnlyTheUserIsServed) {
  testing::TempFolder folder;
  const std::filesystem::path socket = folder.path() / "console";
  ConsoleServer server;
  int handled = 0;
  ASSERT_TRUE(server.listen(socket, [&](ConsoleMessage, WParam, LParam) { return ++handled; }))
      << server.error();
  struct stat info {};
  ASSERT_EQ(::lstat(socket.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // Opened up for the test: a console of another user reaches the socket and is turned away.
  ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
  ASSERT_EQ(::chmod(socket.c_str(), 0666), 0);
  // The other user may not pass through the folders above the temporary one (a private
  // TMPDIR), so the child enters it first and connects by the socket's name alone.
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.path().c_str()) != 0 || ::setuid(kOtherUser) != 0) {
      ::_exit(3);
    }
    const int fd = connectTo(socket.filename());
    if (fd < 0) {
      ::_exit(2);
    }
    // A server that let the stranger in keeps the connection open and answers nothing: the
    // wait for its answer ends, and fails the test, instead of hanging it.
    const timeval patience{.tv_sec = 30, .tv_usec = 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience) != 0) {
      ::_exit(4);
    }
    const char line[] = "WM_TOOL_UPDATE_START 1 4619\n";
    char answer[16];
    // The server closes the connection without an answer; it may have closed it before the
    // request is sent, so a failed send is as good as an unanswered one.
    (void)::send(fd, line, sizeof line - 1, MSG_NOSIGNAL);
    const ssize_t got = ::recv(fd, answer, sizeof answer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      ::_exit(5);  // still connected when the wait ran out: the stranger was let in
    }
    ::_exit(got <= 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  currentThreadQueue().processPending();
  EXPECT_EQ(handled, 0);
  server.stop();

  // A socket another user left at the name stays, and the tool says why it does not listen.
  const int planted = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(planted, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::chown(socket.c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_FALSE(server.listen(socket, [](ConsoleMessage, WParam, LParam) { return 1; }));
  EXPECT_NE(server.error().find("belongs to another user"), std::string::npos) << server.error();
  EXPECT_TRUE(std::filesystem::exists(socket));
  ::close(planted);

  // The default place is a folder of the user's own; one of another user is not taken.
  const std::filesystem::path theirs = folder.path() / "theirs";
  ASSERT_TRUE(std::filesystem::create_directory(theirs));
  ASSERT_EQ(::chown(theirs.c_str(), kOtherUser, kOtherUser), 0);
  std::string error;
  EXPECT_FALSE(ConsoleServer::preparePrivateFolder(theirs, error));
  EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
  const std::filesystem::path mine = folder.path() / "mine";
  EXPECT_TRUE(ConsoleServer::preparePrivateFolder(mine, error)) << error;
  ASSERT_EQ(::lstat(mine.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// A console that floods the tool and never reads its answers is read no faster than it is
// answered and is dropped once its answers pile up; another console is still served.
TEST_F(ConsoleServerTest, AConsoleThatNeverReadsCannotStallTheServer) {
  const int flooder = connectTo(folder.path() / "console");
  ASSERT_GE(flooder, 0);
  std::atomic<bool> dropped{false};
  std::thread flood([&] {
    const std::string line = "WM_TOOL_UPDATE_START 5 4619\n";
    while (::send(flooder, line.data(), line.size(), MSG_NOSIGNAL) > 0) {
    }
    dropped = true;  // the tool closed the connection
  });
  send("WM_TOOL_UPDATE_START 77 4619\n");
  // Bounded: a server that waited for the flooder to read would never get there.
  for (int i = 0; i < 200000 && !dropped; ++i) {
    if (currentThreadQueue().waitForMessage(std::chrono::milliseconds(50))) {
      currentThreadQueue().processPending();
    }
  }
  flood.join();
  EXPECT_TRUE(dropped);
  EXPECT_NE(answers().find("ANSWER 1"), std::string::npos);
  ::close(flooder);
}

}  // namespace
}  // namespace orvik
