// Per-machine folders and files are the user's alone; text from a radio prints harmlessly.
#include "base/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "base/text.h"
#include "tests/package/temp_folder.h"

namespace orvik {
namespace {

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(PrivateFiles, FoldersAndFilesAreMadeOrTightenedForTheUserAlone) {
  testing::TempFolder folder;
  ::umask(022);

  // Made with what is missing above it, or an open one of the user's closed.
  const std::filesystem::path made = folder.path() / "machine" / "data";
  EXPECT_TRUE(makePrivateFolder(made));
  EXPECT_EQ(modeOf(made), 0700u);
  const std::filesystem::path open = folder.path() / "open";
  ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
  EXPECT_TRUE(makePrivateFolder(open));
  EXPECT_EQ(modeOf(open), 0700u);
  // A file at the folder's name is not a folder.
  const std::filesystem::path plain = folder.path() / "plain";
  std::ofstream(plain) << "x";
  EXPECT_FALSE(makePrivateFolder(plain));

  const std::filesystem::path created = folder.path() / "created.log";
  const int fd = openPrivateFile(created, O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(modeOf(created), 0600u);
  const std::filesystem::path readable = folder.path() / "readable.dat";
  std::ofstream(readable) << "x";
  ASSERT_EQ(::chmod(readable.c_str(), 0644), 0);
  const int again = openPrivateFile(readable, O_RDONLY);
  ASSERT_GE(again, 0);
  ::close(again);
  EXPECT_EQ(modeOf(readable), 0600u);
  ASSERT_EQ(::chmod(readable.c_str(), 0664), 0);
  makeFilePrivate(readable);
  EXPECT_EQ(modeOf(readable), 0600u);
  // Only the group's and others' access goes: an owner's read-only file stays read-only.
  ASSERT_EQ(::chmod(readable.c_str(), 0444), 0);
  makeFilePrivate(readable);
  EXPECT_EQ(modeOf(readable), 0400u);
}

TEST(PrintableText, ControlCharactersAreShownAsEscapes) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"HT-750 plus", "HT-750 plus"},
      {"a\x1b[2Jb", "a\\x1B[2Jb"},
      {"line\nnext\r", "line\\x0Anext\\x0D"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"del\x7f", "del\\x7F"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(printableText(c.in), c.out) << c.out;
  }
}

}  // namespace
}  // namespace orvik
