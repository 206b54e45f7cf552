// Replacing and creating a file in one step: the mode a file had is kept, what is not a
// regular file is left alone, a failed write leaves the old content, and no temporary file is
// ever left in the folder.
#include "base/file_replace.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/package/temp_folder.h"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

unsigned modeOf(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The names in the folder, hidden ones (the temporary files) included.
std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ReplaceFileContents, TheFileKeepsItsModeAndANewOneIsPrivate) {
  TempFolder temp;
  const struct {
    const char* name;
    unsigned mode;  // 0: no file before
  } cases[] = {{"shared", 0644}, {"private", 0600}, {"group", 0640}, {"new", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = temp.path() / c.name;
    if (c.mode != 0) {
      writeText(file, "old content that is longer than the new one");
      ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    }
    ASSERT_TRUE(replaceFileContents(file, bytesOf("new")));
    EXPECT_EQ(readText(file), "new");
    EXPECT_EQ(modeOf(file), c.mode != 0 ? c.mode : 0600u);
  }
  EXPECT_EQ(namesIn(temp.path()), (std::vector<std::string>{"group", "new", "private", "shared"}));
}

TEST(ReplaceFileContents, ALinkIsFollowedAndKept) {
  TempFolder temp;
  writeText(temp.path() / "target", "old");
  ASSERT_EQ(::chmod((temp.path() / "target").c_str(), 0640), 0);
  fs::create_symlink("target", temp.path() / "link");
  ASSERT_TRUE(replaceFileContents(temp.path() / "link", bytesOf("new")));
  EXPECT_TRUE(fs::is_symlink(temp.path() / "link"));
  EXPECT_EQ(readText(temp.path() / "target"), "new");
  EXPECT_EQ(modeOf(temp.path() / "target"), 0640u);
  EXPECT_EQ(namesIn(temp.path()), (std::vector<std::string>{"link", "target"}));
}

TEST(ReplaceFileContents, WhatIsNotARegularFileIsLeftAlone) {
  TempFolder temp;
  fs::create_directory(temp.path() / "folder");
  writeText(temp.path() / "folder" / "inside", "kept");
  ASSERT_EQ(::mkfifo((temp.path() / "fifo").c_str(), 0644), 0);
  for (const char* name : {"folder", "fifo"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(replaceFileContents(temp.path() / name, bytesOf("new")));
  }
  EXPECT_TRUE(fs::is_directory(temp.path() / "folder"));
  EXPECT_EQ(readText(temp.path() / "folder" / "inside"), "kept");
  EXPECT_TRUE(fs::is_fifo(temp.path() / "fifo"));
  EXPECT_EQ(namesIn(temp.path()), (std::vector<std::string>{"fifo", "folder"}));
}

// Over the file size limit the write fails: the old content stays, the process is not ended
// by the signal, and the temporary file goes.
TEST(ReplaceFileContents, AWriteThatFailsLeavesTheOldContent) {
  TempFolder temp;
  const fs::path file = temp.path() / "file";
  writeText(file, "old");
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::vector<std::uint8_t> large(4096, 0x55);
  const bool replaced = replaceFileContents(file, large);
  int error = 0;
  const CreateFileResult created = createFileWithContents(temp.path() / "other", large, error);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
  EXPECT_FALSE(replaced);
  EXPECT_EQ(readText(file), "old");
  EXPECT_EQ(created, CreateFileResult::Failed);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(namesIn(temp.path()), std::vector<std::string>{"file"});
}

TEST(CreateFileWithContents, CreatesAPrivateFileAndNeverReplacesOne) {
  TempFolder temp;
  const fs::path file = temp.path() / "entry";
  int error = -1;
  EXPECT_EQ(createFileWithContents(file, bytesOf("first"), error), CreateFileResult::Created);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(readText(file), "first");
  EXPECT_EQ(modeOf(file), 0600u);

  EXPECT_EQ(createFileWithContents(file, bytesOf("second"), error), CreateFileResult::Exists);
  EXPECT_EQ(error, EEXIST);
  EXPECT_EQ(readText(file), "first");
  // A name held by a link, even one that leads nowhere, is taken too.
  fs::create_symlink(temp.path() / "nowhere", temp.path() / "dangling");
  EXPECT_EQ(createFileWithContents(temp.path() / "dangling", bytesOf("x"), error),
            CreateFileResult::Exists);
  EXPECT_FALSE(fs::exists(temp.path() / "nowhere"));
  // A folder that is not there.
  EXPECT_EQ(createFileWithContents(temp.path() / "no" / "entry", bytesOf("x"), error),
            CreateFileResult::Failed);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(namesIn(temp.path()), (std::vector<std::string>{"dangling", "entry"}));
}

}  // namespace
}  // namespace orvik
