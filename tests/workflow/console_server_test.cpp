// The console socket: requests that would change the test mode wait while an action runs.
#include "workflow/console_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/package/temp_folder.h"

namespace orvik {
namespace {

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

}  // namespace
}  // namespace orvik
