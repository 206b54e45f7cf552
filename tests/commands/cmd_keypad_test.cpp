// CmdKeypad with a fake boot-loader (file, port, waits, progress, exit codes) and with real
// scripts started as processes: exit codes, a hanging script, one that cannot start, what a
// script prints, and the stand-in shipped in the build tree. The ten cycles pass on the virtual
// clock; where a script must have ended by then, its own end is waited for, with a deadline.
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

#include "base/text.h"
#include "commands/cmd_keypad.h"
#include "exec/radio_info.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"
#include "tests/support/script_launchers.h"

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
  std::string output;
  fs::path script;
  Strings arguments;
  Strings environment;
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
  std::string output() override { return state_.output; }

 private:
  FakeState& state_;
};

class FakeLauncher final : public KeypadScriptLauncher {
 public:
  explicit FakeLauncher(FakeState& state) : state_(state) {}
  std::unique_ptr<KeypadScript> start(const fs::path& script, const Strings& arguments,
                                      const Strings& environment) override {
    state_.script = script;
    state_.arguments = arguments;
    state_.environment = environment;
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
    // The simulated cable has no device file; the variable is still set, so that one the tool
    // inherited cannot point the script elsewhere.
    EXPECT_EQ(fake.environment, Strings{"ORVIK_CABLE_DEVICE="});
    EXPECT_EQ(clock.sleeps(), expectedWaits(c.cycle));
    EXPECT_EQ(news, expectedNews());
  }
}

// Only exit code 2 is success, read once when the cycles are over: a script still running then
// has failed, with no time added. Every run decides afresh, so a run after failures succeeds.
TEST_F(CmdKeypadTest, ExitCodeDecidesEveryRun) {
  const struct {
    const char* what;
    bool startFails;
    std::optional<int> exitCode;
    std::string output;
    bool result;
    std::string ending;
    Strings shown;
  } cases[] = {
      {"exits 0",
       false,
       0,
       "",
       false,
       "Error:the keypad boot-loader [../driver/blhost.sh] ended with exit code [0].",
       {}},
      {"still running after the cycles",
       false,
       std::nullopt,
       "programming...\n",
       false,
       "Error:the keypad boot-loader [../driver/blhost.sh] gave no exit code within its time and "
       "was ended.",
       {"programming..."}},
      {"cannot be started",
       true,
       2,
       "",
       false,
       "Error:the keypad boot-loader [../driver/blhost.sh] could not be started.",
       {}},
      {"exits 1 saying why",
       false,
       1,
       "No keypad boot-loader is installed.\n",
       false,
       "Error:the keypad boot-loader [../driver/blhost.sh] ended with exit code [1].",
       {"No keypad boot-loader is installed."}},
      {"exits 2", false, 2, "done\n", true, "", {"done"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fake.startFails = c.startFails;
    fake.exitCode = c.exitCode;
    fake.output = c.output;
    fake.exitWaits.clear();
    fake.terminated = 0;
    EXPECT_EQ(run(command), c.result);
    EXPECT_EQ(command.scriptEnding(), c.ending);
    EXPECT_EQ(command.scriptOutput(), c.shown);
    // The full time is always spent and shown.
    EXPECT_EQ(clock.sleeps(), expectedWaits(23500ms));
    EXPECT_EQ(news, expectedNews());
    if (!c.startFails) {
      EXPECT_EQ(fake.exitWaits, Waits{0ms});
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
  const fs::path neverWritten = temp / "never-written";
  ASSERT_EQ(::mkfifo(neverWritten.c_str(), 0600), 0);
  const struct {
    const char* what;
    std::string body;  // no script at all when empty
    fs::perms perms;
    // The script has ended by the time the cycles are over, as a real run gives it minutes.
    bool endsInTime;
    bool result;
  } cases[] = {
      {"exits 2", "printf '%s\\n' \"$@\" > '" + argumentsFile.string() + "'\nexit 2",
       fs::perms::owner_all, true, true},
      {"exits 0", "exit 0", fs::perms::owner_all, true, false},
      // Would succeed, but only after its time: no grace lets it. It waits for a writer that
      // never comes, so no machine is slow enough to let it end in time.
      {"exits 2 too late", "read -r line < '" + neverWritten.string() + "'\nexit 2",
       fs::perms::owner_all, false, false},
      // Ignores the request to stop, so it has to be killed.
      {"hangs", "trap '' TERM\nexec tail -f /dev/null", fs::perms::owner_all, false, false},
      {"not executable", "exit 2", fs::perms::owner_read | fs::perms::owner_write, true, false},
      {"missing", "", fs::perms::none, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(script);
    if (!c.body.empty()) {
      writeScript(script, c.body, c.perms);
    }
    CmdKeypad command;
    if (c.endsInTime) {
      command.setLauncher(std::make_unique<testing::ScriptEndsInTimeLauncher>());
    } else {
      command.setLauncher(std::make_unique<PosixKeypadScriptLauncher>(100ms));
    }
    command.baseFolder = base;
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

// The same in real time: a script that sleeps past the command's cycles, which pass at once on
// the virtual clock, is still running when its exit code is read, and is ended.
TEST_F(RealScriptTest, RealTimeAScriptThatEndsAfterItsTimeFails) {
  const fs::path script = base / "driver" / "blhost.sh";
  writeScript(script, "sleep 3\nexit 2");
  CmdKeypad command{std::make_unique<PosixKeypadScriptLauncher>(100ms)};
  command.baseFolder = base;
  EXPECT_FALSE(run(command));
  EXPECT_EQ(clock.sleeps(), expectedWaits(23500ms));
  EXPECT_EQ(news, expectedNews());
  EXPECT_TRUE(noChildLeft());
}

// What the script prints is kept for the user, its last lines cleaned of what a terminal would
// act on. A script that prints more than a pipe holds is not held up by it.
TEST_F(RealScriptTest, WhatTheScriptPrintsIsKept) {
  writeScript(base / "driver" / "blhost.sh",
              "head -c 300000 /dev/zero | tr '\\0' x\n"
              "echo\n"
              "printf 'port \\033[31m%s\\n' \"$1\" >&2\n"
              "echo 'cannot open the cable'\n"
              "exit 1");
  CmdKeypad command{std::make_unique<testing::ScriptEndsInTimeLauncher>()};
  command.baseFolder = base;
  EXPECT_FALSE(run(command));
  EXPECT_EQ(command.scriptEnding(), "Error:the keypad boot-loader [" +
                                        (base / "driver" / "blhost.sh").string() +
                                        "] ended with exit code [1].");
  const Strings shown = command.scriptOutput();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0], std::string(CmdKeypad::kOutputLineChars, 'x'));
  EXPECT_EQ(shown[1], "port ?[31mCOM7");
  EXPECT_EQ(shown[2], "cannot open the cable");
  EXPECT_TRUE(noChildLeft());
}

// The script learns the cable's device file from the tool, in place of any value the tool
// itself was started with.
TEST_F(RealScriptTest, CableDeviceReplacesAnInheritedOne) {
  const fs::path script = base / "driver" / "blhost.sh";
  const fs::path seen = temp / "seen";
  writeScript(script, "printf '%s' \"$ORVIK_CABLE_DEVICE\" > '" + seen.string() + "'\nexit 2");
  ASSERT_EQ(::setenv("ORVIK_CABLE_DEVICE", "/dev/ttyUSB0", 1), 0);
  testing::ScriptEndsInTimeLauncher launcher;
  auto running = launcher.start(script, {"COM9"}, {"ORVIK_CABLE_DEVICE=/dev/pts/9"});
  ::unsetenv("ORVIK_CABLE_DEVICE");
  ASSERT_NE(running, nullptr);
  EXPECT_EQ(running->exitCode(0ms), 2);
  std::ifstream in(seen);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "/dev/pts/9");
}

TEST(KeypadScriptOutput, DisplayLines) {
  const struct {
    const char* what;
    std::string output;
    Strings lines;
  } cases[] = {
      {"nothing", "", {}},
      {"blank lines and spaces dropped", "\n  \n\tfirst \r\n\nsecond", {"first", "second"}},
      {"the last lines", "1\n2\n3\n4\n5\n6\n7\n", {"3", "4", "5", "6", "7"}},
      {"escape and control characters",
       "a\x1b]0;title\x07"
       "b\x7f",
       {"a?]0;title?b?"}},
      {"UTF-8 kept",
       "gr\xc3\xbc\xc3\x9f dich \xe2\x82\xac",
       {"gr\xc3\xbc\xc3\x9f dich \xe2\x82\xac"}},
      {"bytes that are not UTF-8",
       "a\xff\xc3(\xe2\x82",
       {"a?"
        "?("
        "??"}},
      {"second-range control characters",
       "a\xc2\x9b"
       "31m",
       {"a?"
        "?31m"}},
      {"long lines cut", std::string(300, 'y'), {std::string(200, 'y')}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(displayLines(c.output, 5, 200), c.lines);
  }
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
    std::unique_ptr<KeypadScript> running = launcher.start(script, {ready.string()}, {});
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

// The stand-in that ships until the vendor's boot-loader is installed must never pass for a
// programmed keypad, and must say why.
TEST_F(RealScriptTest, ShippedStandInScriptFailsAndSaysWhy) {
  const char* build = std::getenv("ORVIK_BUILD_DIR");
  if (build == nullptr) {
    GTEST_SKIP() << "ORVIK_BUILD_DIR is set when ctest runs the test";
  }
  CmdKeypad command{std::make_unique<testing::ScriptEndsInTimeLauncher>()};
  command.baseFolder = build;
  const fs::path script = fs::canonical(fs::path(build) / "driver" / "blhost.sh");
  for (const std::uint8_t kind : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(kind));
    info.keypadKind = kind;
    EXPECT_FALSE(run(command));
    EXPECT_EQ(command.scriptOutput(),
              Strings{truncateUtf8("No keypad boot-loader is installed: put the vendor's keypad "
                                   "boot-loader script at " +
                                       script.string() + ".",
                                   CmdKeypad::kOutputLineChars)});
  }
  EXPECT_TRUE(noChildLeft());
}

}  // namespace
}  // namespace orvik
