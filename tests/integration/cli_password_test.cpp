// orvik-cli's dealer login on a terminal: what is typed at the password prompt is never shown,
// the terminal shows what is typed again once the login is over, and logout leaves dealer
// mode.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/package/temp_folder.h"

namespace orvik {
namespace {

class CliPasswordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("ORVIK_BUILD_DIR");
    if (build == nullptr) {
      GTEST_SKIP() << "ORVIK_BUILD_DIR is not set";
    }
    cli = std::filesystem::path(build) / "bin" / "orvik-cli";
  }
  void TearDown() override {
    if (master >= 0) {
      ::close(master);
    }
  }

  // Starts orvik-cli on a new terminal: standard input, output and error are all the terminal.
  void start(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), cli.string());
    if (master >= 0) {
      ::close(master);
    }
    pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::vector<char*> argv;
      for (std::string& argument : arguments) {
        argv.push_back(argument.data());
      }
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  // What the terminal shows, read until it shows `until` (or until the program has ended).
  std::string readUntil(const std::string& until) {
    std::string text;
    char buffer[256];
    while (until.empty() || text.find(until) == std::string::npos) {
      // Only a guard against a hang; the program answers at once.
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 30000) != 1) {
        break;
      }
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) {
        break;  // the program ended (EIO)
      }
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
  void type(const std::string& text) {
    ASSERT_EQ(::write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // Whether the terminal shows what is typed.
  bool echoing() const {
    termios settings{};
    return ::tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  }
  int exitStatus() {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testing::TempFolder temp;
  std::filesystem::path cli;
  int master = -1;
  pid_t pid = -1;
};

TEST_F(CliPasswordTest, ThePasswordIsNotShownAsItIsTyped) {
  const std::string dataDir = (temp.path() / "machine").string();
  start({"--simulate", "--data-dir", dataDir, "login"});
  std::string shown = readUntil("Password: ");
  EXPECT_FALSE(echoing());
  type("1111\n");
  shown += readUntil("Password: ");
  type("12345678\n");
  shown += readUntil("");
  EXPECT_EQ(exitStatus(), 0);
  EXPECT_EQ(shown,
            "Password: \r\n"
            "The password is not correct. Please check it!\r\n"
            "Password: \r\n"
            "Dealer mode is on.\r\n");
  EXPECT_TRUE(echoing());

  start({"--simulate", "--data-dir", dataDir, "logout"});
  EXPECT_EQ(readUntil(""), "Dealer mode is off.\r\n");
  EXPECT_EQ(exitStatus(), 0);
}

}  // namespace
}  // namespace orvik
