#include "errors/error_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
  EXPECT_EQ(log_.path(), base_ / "log" / "err.log");
  EXPECT_TRUE(log_.logLine("Error:failed to open file [%s].", "a.kxk"));
  EXPECT_TRUE(log_.logText("100% plain %s"));
  EXPECT_EQ(contents(log_.path()),
            "[ 12-06 15:04:33 ] Error:failed to open file [a.kxk].\n"
            "[ 12-06 15:04:33 ] 100% plain %s\n");
  EXPECT_EQ(log_.linesWritten(), 2u);
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

}  // namespace
}  // namespace orvik
