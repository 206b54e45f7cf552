#include "errors/error_log.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace orvik {
namespace {

namespace fs = std::filesystem;

class ErrorLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() /
            ("orvik-log-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_);
    // 6 December, 15:04:33 local time.
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 6;
    when.tm_hour = 15;
    when.tm_min = 4;
    when.tm_sec = 33;
    when.tm_isdst = -1;
    const std::time_t stamp = std::mktime(&when);
    log_.setTimeSource([stamp] { return stamp; });
  }
  void TearDown() override { fs::remove_all(base_); }

  static std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  fs::path base_;
  ErrorLog log_;
};

TEST_F(ErrorLogTest, WritesTimeStampedLinesIntoLogFolder) {
  log_.setLogDirectory(base_.string());
  std::vector<std::string> observed;
  log_.setObserver([&](std::string_view text) { observed.emplace_back(text); });
  EXPECT_EQ(log_.path(), base_ / "log" / "err.log");
  EXPECT_TRUE(log_.logLine("Error:failed to open file [%s].", "a.kxk"));
  EXPECT_TRUE(log_.logText("100% plain %s"));
  EXPECT_EQ(contents(log_.path()),
            "[ 12-06 15:04:33 ] Error:failed to open file [a.kxk].\n"
            "[ 12-06 15:04:33 ] 100% plain %s\n");
  // The observer (the station's worker) is told each entry as written, without the stamp.
  EXPECT_EQ(observed,
            (std::vector<std::string>{"Error:failed to open file [a.kxk].", "100% plain %s"}));
  EXPECT_EQ(log_.linesWritten(), 2u);
}

// The update station's workers share one log. Each writes more than a file's worth of long
// lines, so that each starts the file afresh while the others write: every line left in the
// file is whole, and each writer's lines keep their order.
TEST_F(ErrorLogTest, SeveralProcessesShareTheLogLineByLine) {
  constexpr int kWriters = 4;
  constexpr int kLines = ErrorLog::kLinesPerFile + 200;
  const std::string padding(300, 'x');
  std::vector<pid_t> writers;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ErrorLog own;
      own.setLogDirectory(base_.string());
      for (int line = 1; line <= kLines; ++line) {
        own.logLine("writer %d line %d %s end", writer, line, padding.c_str());
      }
      ::_exit(0);
    }
    writers.push_back(pid);
  }
  for (const pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::istringstream text(contents(base_ / "log" / "err.log"));
  std::map<int, int> lastLine;
  int count = 0;
  for (std::string line; std::getline(text, line); ++count) {
    int writer = -1;
    int number = -1;
    char rest[400] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "[ %*d-%*d %*d:%*d:%*d ] writer %d line %d %399s", &writer,
                          &number, rest),
              3)
        << line;
    ASSERT_EQ(line.substr(line.size() - 4), " end") << line;
    ASSERT_EQ(rest, padding) << line;
    EXPECT_GT(number, lastLine[writer]) << line;
    lastLine[writer] = number;
  }
  EXPECT_GT(count, 0);
}

TEST_F(ErrorLogTest, TrailingSeparatorIsNotDoubled) {
  log_.setLogDirectory(base_.string() + "/");
  EXPECT_EQ(log_.path().string(), base_.string() + "/log/err.log");
}

TEST_F(ErrorLogTest, AppendsToEarlierRunsAndStartsAfreshAfter1000Lines) {
  log_.setLogDirectory(base_.string());
  {
    std::ofstream earlier(log_.path());
    earlier << "from an earlier run\n";
  }
  for (int i = 1; i <= 1000; ++i) {
    ASSERT_TRUE(log_.logLine("line %d", i));
  }
  std::string text = contents(log_.path());
  EXPECT_EQ(text.rfind("from an earlier run\n", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1001);

  ASSERT_TRUE(log_.logLine("line %d", 1001));
  EXPECT_EQ(contents(log_.path()), "[ 12-06 15:04:33 ] line 1001\n");
}

TEST_F(ErrorLogTest, LinesBeforeSetLogDirectoryAreLost) {
  EXPECT_FALSE(log_.logLine("too early"));
  EXPECT_FALSE(fs::exists(base_ / "log"));
  EXPECT_EQ(log_.linesWritten(), 0u);  // nothing for anyone to look up
}

TEST_F(ErrorLogTest, UnwritableFolderFailsQuietly) {
  fs::create_directories(base_ / "log" / "err.log");  // a folder where the file should be
  log_.setLogDirectory(base_.string());
  EXPECT_FALSE(log_.logLine("nowhere to go"));
  EXPECT_EQ(log_.linesWritten(), 0u);
}

// A link planted at the log's name is neither appended to, nor emptied when the log starts
// afresh, nor made private: what it points at stays as it was.
TEST_F(ErrorLogTest, ALinkAtTheLogsNameIsNotFollowed) {
  const fs::path target = base_ / "someone-elses.txt";
  std::ofstream(target) << "kept\n";
  fs::permissions(target, fs::perms(0644));
  fs::create_directories(base_ / "log");
  fs::create_symlink(target, base_ / "log" / "err.log");
  log_.setLogDirectory(base_.string());
  for (int i = 0; i <= 1000; ++i) {
    EXPECT_FALSE(log_.logLine("line %d", i));
  }
  EXPECT_EQ(contents(target), "kept\n");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0644));
  // The reason is kept for the user; once the link is gone the log is the tool's own again.
  EXPECT_EQ(log_.openProblem(), "it is a symbolic link");
  fs::remove(base_ / "log" / "err.log");
  EXPECT_TRUE(log_.logLine("after"));
  EXPECT_EQ(log_.openProblem(), "");
}

// A radio's text in a line cannot act on the terminal that shows the log; lines stay lines.
TEST_F(ErrorLogTest, RadioTextIsWrittenEscaped) {
  log_.setLogDirectory(base_.string());
  ASSERT_TRUE(log_.logLine("Error:radio [%s].\nnext", "AB\x1b]0;x\x07\xc2\x9b\xff"));
  EXPECT_EQ(contents(log_.path()),
            "[ 12-06 15:04:33 ] Error:radio [AB\\x1B]0;x\\x07\\xC2\\x9B\\xFF].\nnext\n");
}

}  // namespace
}  // namespace orvik
