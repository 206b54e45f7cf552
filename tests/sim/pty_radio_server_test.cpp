#include "sim/pty_radio_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace orvik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Deadline = std::chrono::steady_clock::time_point;

const Bytes kStatusFirmware = {0xF2, 0x23, 0x03, 0xE7};
const Bytes kFirmwareAnswer = {0x50, 0xF7, 0xA3, 0x03, 0x00, 0x52, 0x01, 0x02, 0x03, 0x0A};

// Generous: the bytes normally arrive within milliseconds; the deadline only stops a broken
// server from hanging the test.
Deadline deadline() {
  return std::chrono::steady_clock::now() + std::chrono::seconds(10);
}

int remainingMs(Deadline until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      until - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads until count bytes arrived, the other end went away, or the deadline passed.
Bytes readUpTo(int fd, std::size_t count, Deadline until) {
  Bytes bytes;
  while (bytes.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, remainingMs(until)) <= 0) {
      break;
    }
    std::uint8_t buffer[256];
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (n <= 0) {
      break;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

bool writeAll(int fd, const Bytes& bytes) {
  return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

int openPort(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_NOCTTY);
}

class PtyRadioServerTest : public ::testing::Test {
 protected:
  void start() {
    ASSERT_TRUE(server.open()) << server.error();
    serving = std::jthread([this](std::stop_token stop) { server.serve(stop); });
  }

  SimRadio radio;
  PtyRadioServer server{radio};
  std::jthread serving;  // declared last: stopped and joined before the server goes
};

TEST_F(PtyRadioServerTest, AnswersEveryClientOverTheSlave) {
  start();
  for (int client = 0; client < 2; ++client) {
    SCOPED_TRACE(client);
    const int fd = openPort(server.slavePath());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeAll(fd, kStatusFirmware));
    EXPECT_EQ(readUpTo(fd, kFirmwareAnswer.size(), deadline()), kFirmwareAnswer);
    // Closing the client must not end the service for the next one.
    ::close(fd);
  }
  EXPECT_EQ(radio.count(RequestKind::StatusQuery), 2);
}

TEST_F(PtyRadioServerTest, EchoModeReturnsTheRequestFirstAndIgnoresBaud) {
  server.setEcho(true);
  radio.setCurrentBaud(115200);  // there is no baud on a pty to disagree with
  start();
  const int fd = openPort(server.slavePath());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(writeAll(fd, kStatusFirmware));
  Bytes expected = kStatusFirmware;
  expected.insert(expected.end(), kFirmwareAnswer.begin(), kFirmwareAnswer.end());
  EXPECT_EQ(readUpTo(fd, expected.size(), deadline()), expected);
  ::close(fd);
}

// A write-flash request of a 4 KiB piece of zeros at 0x10000, with its checksum.
Bytes flashPieceRequest() {
  Bytes request = {0xFF, 0x72, 0x10, 0x05, 0x01, 0x01, 0x00, 0x00};
  request.resize(request.size() + 4096, 0x00);
  request.push_back(0);
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < request.size(); ++i) {
    sum += request[i];
  }
  request.back() = static_cast<std::uint8_t>(0xFF - (sum & 0xFF));
  return request;
}

TEST_F(PtyRadioServerTest, LargeRequestsArriveWhole) {
  start();
  radio.setTestMode(SimTestMode::Flash);
  const Bytes request = flashPieceRequest();
  const int fd = openPort(server.slavePath());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(writeAll(fd, request));
  EXPECT_EQ(readUpTo(fd, 5, deadline()), (Bytes{0x50, 0xF2, 0x95, 0x01, 0x77}));
  EXPECT_EQ(radio.flashBytes(0x10000, 4096), Bytes(4096, 0x00));
  ::close(fd);
}

// With line time kept, a 4 KiB flash piece is answered no sooner than its bytes would have
// crossed the line at the rate the client set on the port, and not much later. Real time: the
// bounds are wide for a loaded machine, but no load makes the answer come early.
TEST_F(PtyRadioServerTest, RealTimeAPieceTakesItsWireTimeAtTheRateTheClientSet) {
  server.keepLineTime(57600, std::chrono::milliseconds(1));
  start();
  radio.setTestMode(SimTestMode::Flash);
  const Bytes request = flashPieceRequest();
  const Bytes answer = {0x50, 0xF2, 0x95, 0x01, 0x77};
  const struct {
    speed_t speed;
    unsigned baud;
  } rates[] = {{B57600, 57600}, {B19200, 19200}};
  for (const auto& rate : rates) {
    SCOPED_TRACE(rate.baud);
    const int fd = openPort(server.slavePath());
    ASSERT_GE(fd, 0);
    termios line{};
    ASSERT_EQ(::tcgetattr(fd, &line), 0);
    ::cfmakeraw(&line);
    ASSERT_EQ(::cfsetispeed(&line, rate.speed), 0);
    ASSERT_EQ(::cfsetospeed(&line, rate.speed), 0);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &line), 0);
    // Ten bits a byte: start, eight data bits, stop. The answer's own bytes and the radio's
    // 1 ms are left out of the lower bound.
    const auto wire = std::chrono::milliseconds(request.size() * 10 * 1000 / rate.baud);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(writeAll(fd, request));
    EXPECT_EQ(readUpTo(fd, answer.size(), start + wire * 5 + std::chrono::seconds(30)), answer);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, wire);
    EXPECT_LT(took, wire * 5 + std::chrono::seconds(2));
    ::close(fd);
  }
}

TEST_F(PtyRadioServerTest, DisconnectFaultClosesThePty) {
  radio.setFaultPlan(FaultPlan().add(RequestKind::StatusQuery, 1, FaultKind::Disconnect));
  start();
  const int fd = openPort(server.slavePath());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(writeAll(fd, kStatusFirmware));
  // At most the acknowledgement and half a frame, then the port is gone.
  EXPECT_LE(readUpTo(fd, kFirmwareAnswer.size(), deadline()).size(), 5u);
  serving.join();
  EXPECT_TRUE(server.disconnected());
  ::close(fd);
}

// orvik-radio-sim as a user runs it: the first line is the port, a signal ends it.
TEST(RadioSimProgram, ServesOnThePrintedPortUntilSignalled) {
  const char* buildDir = std::getenv("ORVIK_BUILD_DIR");
  if (buildDir == nullptr) {
    GTEST_SKIP() << "ORVIK_BUILD_DIR is not set";
  }
  const std::string program = std::string(buildDir) + "/bin/orvik-radio-sim";
  const std::filesystem::path link =
      std::filesystem::temp_directory_path() / ("orvik-radio-sim-test-" + std::to_string(getpid()));

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string linkText = link.string();
  const char* argv[] = {program.c_str(), "--serial", "987", "--link", linkText.c_str(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr,
                                  const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ASSERT_EQ(spawned, 0);

  std::string firstLine;
  const Deadline until = deadline();
  while (firstLine.empty() || firstLine.back() != '\n') {
    const Bytes got = readUpTo(out[0], 1, until);
    if (got.empty()) {
      break;
    }
    firstLine.push_back(static_cast<char>(got[0]));
  }
  ASSERT_FALSE(firstLine.empty());
  firstLine.pop_back();
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), firstLine);

  const int fd = openPort(link.string());
  EXPECT_GE(fd, 0);
  if (fd >= 0) {
    EXPECT_TRUE(writeAll(fd, {0xF2, 0x23, 0x01, 0xE9}));
    EXPECT_EQ(readUpTo(fd, 9, deadline()),
              (Bytes{0x50, 0xF6, 0xA3, 0x01, 0x00, 0x39, 0x38, 0x37, 0xBD}));
    ::close(fd);
  }

  kill(pid, SIGTERM);
  // The pipe closes when the program ends; its exit status then is at hand.
  const Deadline exitBy = deadline();
  EXPECT_TRUE(readUpTo(out[0], 4096, exitBy).empty());
  ::close(out[0]);
  if (remainingMs(exitBy) == 0) {
    ADD_FAILURE() << "orvik-radio-sim did not end on SIGTERM";
    kill(pid, SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

}  // namespace
}  // namespace orvik
