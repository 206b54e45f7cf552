// The frame trace is the user's alone and keeps its newest part within a size.
#include "link/frame_trace.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>

#include "tests/package/temp_folder.h"

namespace orvik {
namespace {

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FrameTrace, PrivateAndRotatedAtItsSize) {
  testing::TempFolder folder;
  const std::filesystem::path path = folder.path() / "trace.log";
  FrameTrace trace;
  ASSERT_TRUE(trace.enable(path, 400));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const std::array<std::uint8_t, 8> bytes{0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x03};
  for (int i = 0; i < 12; ++i) {
    trace.frame("TX", bytes, "piece " + std::to_string(i));
  }
  const std::string current = contents(path);
  const std::string older = contents(path.string() + ".1");
  EXPECT_LE(current.size(), 400u);
  EXPECT_LE(older.size(), 400u);
  // The newest frame is in the current file, the one before the turn in the older file.
  EXPECT_NE(current.find("(piece 11)\n"), std::string::npos) << current;
  EXPECT_EQ(older.find("(piece 11)"), std::string::npos);
  ASSERT_EQ(::stat((path.string() + ".1").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Each line is whole: the file turns between frames, never inside one.
  for (const std::string& text : {current, older}) {
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.front(), '[');
  }
}

}  // namespace
}  // namespace orvik
