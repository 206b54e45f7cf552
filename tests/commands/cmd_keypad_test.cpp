// CmdKeypad with a fake boot-loader (file, port, waits, progress, exit codes) and with real
// scripts started as processes: exit codes, a hanging script, one that cannot start, and the
// stand-in shipped in the build tree. The ten cycles pass on the virtual clock; only the
// script's own end is waited for, with a deadline.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "commands/cmd_keypad.h"
#include "exec/radio_info.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Waits = std::vector<std::chrono::milliseconds>;
using Strings = std::vector<std::string>;

struct News {
  unsigned message;
  WParam wParam;
  bool operator==(const News&) const = default;
};

std::vector<News> expectedNews() {
  std::vector<News> news{{MSG_COMMAND_STARTED, 0}};
  for (WParam position = 10; position <= 100; position += 10) {
    news.push_back({MSG_PROGRESS, position});
  }
  news.insert(news.end(), {{MSG_PROGRESS, 100}, {MSG_PROGRESS, 0}, {MSG_COMMAND_FINISHED, 0}});
  return news;
}

Waits expectedWaits(std::chrono::milliseconds cycle) {
  Waits waits(CmdKeypad::kCycles, cycle);
  waits.push_back(100ms);
  return waits;
}

// What the fake boot-loader is told to do and what was asked of it.
struct FakeState {
  bool startFails = false;
  std::optional<int> exitCode = 2;
  fs::path script;
  Strings arguments;
  Waits exitWaits;
  int terminated = 0;
  int alive = 0;
};

class FakeScript final : public KeypadScript {
 public:
  explicit FakeScript(FakeState& state) : state_(state) { ++state_.alive; }
  ~FakeScript() override { --state_.alive; }
  std::optional<int> exitCode(std::chrono::milliseconds wait) override {
    state_.exitWaits.push_back(wait);
    return state_.exitCode;
  }
  void terminate() override { ++state_.terminated; }

 private:
  FakeState& state_;
};

class FakeLauncher final : public KeypadScriptLauncher {
 public:
  explicit FakeLauncher(FakeState& state) : state_(state) {}
  std::unique_ptr<KeypadScript> start(const fs::path& script, const Strings& arguments) override {
    state_.script = script;
    state_.arguments = arguments;
    if (state_.startFails) {
      return nullptr;
    }
    return std::make_unique<FakeScript>(state_);
  }

 private:
  FakeState& state_;
};

class KeypadTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    // The port the cable had; the caller closes it before the script runs.
    cable.setDevices({{kCableDescription, 7}});
    ASSERT_TRUE(info.port().open(0));
    ASSERT_TRUE(info.port().close());
    window = createMessageWindow([this](const Message& m) {
      news.push_back({m.message, m.wParam});
    });
  }
  void TearDown() override { destroyMessageWindow(window); }

  // Runs the command on a worker thread, as the task does, then delivers its news.
  bool run(CmdKeypad& command) {
    command.radioInfo = &info;
    command.notifyWindow = window;
    command.progressBase = 0;  // as the caller sets it before each run
    clock.clearSleeps();
    news.clear();
    bool result = false;
    std::thread worker([&] { result = command.execute(); });
    worker.join();
    currentThreadQueue().processPending();
    EXPECT_EQ(command.resultFlag, result);
    return result;
  }

  SimRadio radio;
  VirtualClock clock;
  SimCableDriver cable{radio, clock};
  RadioInfo info{cable, clock};
  WindowHandle window = kNoWindow;
  std::vector<News> news;
};

class CmdKeypadTest : public KeypadTestBase {
 protected:
  FakeState fake;
  CmdKeypad command{std::make_unique<FakeLauncher>(fake)};
};

TEST_F(CmdKeypadTest, FirmwareAndCycleTimeFollowTheKeypadKind) {
  const struct {
    std::uint8_t kind;
    fs::path base;
    fs::path folder;
    const char* firmware;
    std::chrono::milliseconds cycle;
  } cases[] = {
      {0, "/opt/orvik", "/opt/orvik/driver", "Keypad_Firmware.bin", 23500ms},
      {1, "/opt/orvik", "/opt/orvik/driver", "Keypad_Firmware_New.bin", 10500ms},
      {2, "/opt/orvik", "/opt/orvik/driver", "Keypad_Firmware.bin", 23500ms},
      // Without a base folder the files are found from the current folder's parent.
      {1, "", "../driver", "Keypad_Firmware_New.bin", 10500ms},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    info.keypadKind = c.kind;
    command.baseFolder = c.base;
    EXPECT_TRUE(run(command));
    EXPECT_EQ(fake.script, c.folder / "blhost.sh");
    EXPECT_EQ(fake.arguments, (Strings{"COM7", (c.folder / c.firmware).string()}));
    EXPECT_EQ(clock.sleeps(), expectedWaits(c.cycle));
    EXPECT_EQ(news, expectedNews());
  }
}

// Only exit code 2 is success; every run decides afresh, so a run after failures succeeds.
TEST_F(CmdKeypadTest, ExitCodeDecidesEveryRun) {
  const struct {
    const char* what;
    bool startFails;
    std::optional<int> exitCode;
    bool result;
  } cases[] = {
      {"exits 0", false, 0, false},
      {"still running after the cycles", false, std::nullopt, false},
      {"cannot be started", true, 2, false},
      {"exits 2", false, 2, true},
  };
  command.exitGrace = 1234ms;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fake.startFails = c.startFails;
    fake.exitCode = c.exitCode;
    fake.exitWaits.clear();
    fake.terminated = 0;
    EXPECT_EQ(run(command), c.result);
    // The full time is always spent and shown.
    EXPECT_EQ(clock.sleeps(), expectedWaits(23500ms));
    EXPECT_EQ(news, expectedNews());
    if (!c.startFails) {
      EXPECT_EQ(fake.exitWaits, Waits{1234ms});
      // Whatever the script did, it is ended and released before the command returns.
      EXPECT_EQ(fake.terminated, 1);
    }
    EXPECT_EQ(fake.alive, 0);
  }
}

TEST_F(CmdKeypadTest, WithoutARadioNothingStarts) {
  command.notifyWindow = window;
  std::thread worker([&] { EXPECT_FALSE(command.execute()); });
  worker.join();
  currentThreadQueue().processPending();
  EXPECT_TRUE(fake.script.empty());
  EXPECT_EQ(news, (std::vector<News>{{MSG_COMMAND_STARTED, 0}, {MSG_COMMAND_FINISHED, 0}}));

  // The progress of done out of total goes onto the caller's span.
  news.clear();
  command.progressSpan = 90;
  command.progressBase = 10;
  command.reportProgress(1, 2);
  EXPECT_EQ(news, (std::vector<News>{{MSG_PROGRESS, 55}}));
}

// --- real scripts ----------------------------------------------------------------------------

void writeFile(const fs::path& path, const std::string& text, fs::perms perms) {
  std::ofstream(path) << text;
  fs::permissions(path, perms);
}

void writeScript(const fs::path& path, const std::string& body,
                 fs::perms perms = fs::perms::owner_all) {
  writeFile(path, "#!/bin/sh\n" + body + "\n", perms);
}

// The process ends (or has ended) within the deadline; it need not be a child of ours.
bool endsWithin(pid_t pid, std::chrono::milliseconds deadline) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) {
    return errno == ESRCH;
  }
  pollfd entry{fd, POLLIN, 0};
  const bool ended = ::poll(&entry, 1, static_cast<int>(deadline.count())) > 0;
  ::close(fd);
  return ended;
}

// No child of this process is left, running or unreaped.
bool noChildLeft() {
  return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

class RealScriptTest : public KeypadTestBase {
 protected:
  void SetUp() override {
    KeypadTestBase::SetUp();
    std::string pattern = (fs::temp_directory_path() / "orvik-keypad-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    temp = pattern;
    base = temp / "base dir";  // a space in every path the script gets
    fs::create_directories(base / "driver");
  }
  void TearDown() override {
    fs::remove_all(temp);
    KeypadTestBase::TearDown();
  }

  fs::path temp;
  fs::path base;
};

TEST_F(RealScriptTest, ExitCodeOfTheScriptDecidesAndNoProcessIsLeft) {
  const fs::path script = base / "driver" / "blhost.sh";
  const fs::path argumentsFile = temp / "arguments";
  const struct {
    const char* what;
    std::string body;  // no script at all when empty
    fs::perms perms;
    bool result;
  } cases[] = {
      {"exits 2", "printf '%s\\n' \"$@\" > '" + argumentsFile.string() + "'\nexit 2",
       fs::perms::owner_all, true},
      {"exits 0", "exit 0", fs::perms::owner_all, false},
      // Ignores the request to stop, so it has to be killed.
      {"hangs", "trap '' TERM\nexec tail -f /dev/null", fs::perms::owner_all, false},
      {"not executable", "exit 2", fs::perms::owner_read | fs::perms::owner_write, false},
      {"missing", "", fs::perms::none, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(script);
    if (!c.body.empty()) {
      writeScript(script, c.body, c.perms);
    }
    CmdKeypad command{std::make_unique<PosixKeypadScriptLauncher>(100ms)};
    command.baseFolder = base;
    // Long enough for a script that ends at once, short for the one that hangs.
    command.exitGrace = c.result ? CmdKeypad::kDefaultExitGrace : 300ms;
    EXPECT_EQ(run(command), c.result);
    EXPECT_EQ(clock.sleeps(), expectedWaits(23500ms));
    EXPECT_EQ(news, expectedNews());
    EXPECT_TRUE(noChildLeft());
  }
  // The firmware path with its space came through as one argument.
  std::ifstream arguments(argumentsFile);
  std::stringstream text;
  text << arguments.rdbuf();
  EXPECT_EQ(text.str(), "COM7\n" + (base / "driver" / "Keypad_Firmware.bin").string() + "\n");
}

// What a script leaves running in its group would hold the cable: it ends with the script,
// whether the script hangs or has already exited.
TEST_F(RealScriptTest, ScriptIsEndedWithWhatItStarted) {
  const fs::path script = base / "driver" / "blhost.sh";
  const fs::path ready = temp / "ready";
  const struct {
    const char* what;
    std::string ending;
    std::optional<int> exitCode;
  } cases[] = {
      {"hangs", "wait", std::nullopt},
      {"exits leaving a child", "exit 2", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeScript(script, "trap '' TERM\ntail -f /dev/null &\necho \"$$ $!\" > \"$1\"\n" + c.ending);
    ASSERT_EQ(::mkfifo(ready.c_str(), 0600), 0);
    PosixKeypadScriptLauncher launcher(100ms);
    std::unique_ptr<KeypadScript> running = launcher.start(script, {ready.string()});
    ASSERT_NE(running, nullptr);

    // The script tells its own and its child's process ids once both run.
    const int fd = ::open(ready.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    pollfd entry{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 10000), 1);
    char buffer[64] = {};
    ASSERT_GT(::read(fd, buffer, sizeof buffer - 1), 0);
    ::close(fd);
    fs::remove(ready);
    pid_t scriptPid = 0;
    pid_t childPid = 0;
    std::istringstream(buffer) >> scriptPid >> childPid;
    ASSERT_GT(scriptPid, 0);
    ASSERT_GT(childPid, 0);

    EXPECT_EQ(running->exitCode(c.exitCode ? 10000ms : 0ms), c.exitCode);
    running->terminate();
    EXPECT_TRUE(endsWithin(scriptPid, 0ms));
    EXPECT_TRUE(endsWithin(childPid, 10000ms));
    EXPECT_TRUE(noChildLeft());
  }
}

TEST_F(RealScriptTest, ShippedStandInScriptAcceptsTheShippedFirmware) {
  const char* build = std::getenv("ORVIK_BUILD_DIR");
  if (build == nullptr) {
    GTEST_SKIP() << "ORVIK_BUILD_DIR is set when ctest runs the test";
  }
  CmdKeypad command;
  command.baseFolder = build;
  for (const std::uint8_t kind : {0, 1}) {
    info.keypadKind = kind;
    EXPECT_TRUE(run(command)) << static_cast<int>(kind);
  }
  EXPECT_TRUE(noChildLeft());
}

}  // namespace
}  // namespace orvik
