// Per-machine folders and files are the user's alone; text from a radio prints harmlessly.
#include "base/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iostream>

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

// The logs, the history and the trace are opened through here: a link planted at their name,
// a file of another user or something that is not a file is refused, and nothing is changed
// where it points.
TEST(PrivateFiles, AFileIsOpenedOnlyWhenItIsTheUsersOwnRegularFile) {
  testing::TempFolder folder;
  const std::filesystem::path target = folder.path() / "target";
  std::ofstream(target) << "someone else's";
  ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
  const std::filesystem::path link = folder.path() / "err.log";
  std::filesystem::create_symlink(target, link);
  errno = 0;
  EXPECT_EQ(openPrivateFile(link, O_WRONLY | O_APPEND), -1);
  EXPECT_EQ(errno, ELOOP);
  makeFilePrivate(link);
  EXPECT_EQ(modeOf(target), 0644u);
  EXPECT_EQ(std::filesystem::file_size(target), 14u);

  const std::filesystem::path fifo = folder.path() / "history.jsonl";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  errno = 0;
  EXPECT_EQ(openPrivateFile(fifo, O_RDONLY), -1);  // at once, not waiting for a writer
  EXPECT_EQ(errno, EINVAL);

  if (::geteuid() != 0) {
    std::cout << "SKIP a file of another user: chown needs root\n";
    return;
  }
  const std::filesystem::path theirs = folder.path() / "trace.log";
  std::ofstream(theirs) << "theirs";
  ASSERT_EQ(::chmod(theirs.c_str(), 0644), 0);
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  errno = 0;
  EXPECT_EQ(openPrivateFile(theirs, O_WRONLY | O_APPEND), -1);
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(modeOf(theirs), 0644u);
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
      // C1 controls, encoded (CSI U+009B, OSC U+009D) or as lone bytes, which some terminals obey.
      {"a\xc2\x9b"
       "2Jb",
       "a\\xC2\\x9B2Jb"},
      {"\xc2\x9d"
       "0;t\xc2\x9c",
       "\\xC2\\x9D0;t\\xC2\\x9C"},
      {"\x9b"
       "2J\x80",
       "\\x9B2J\\x80"},
      {"\xc2\xa0nbsp \xc2\xbf", "\xc2\xa0nbsp \xc2\xbf"},  // the first characters after them
      // Not UTF-8: each bad byte alone, the good ones after it kept.
      {"path\xff.kxk", "path\\xFF.kxk"},
      {"\xc3(", "\\xC3("},                                                 // cut short
      {"\xc0\xaf", "\\xC0\\xAF"},                                          // overlong '/'
      {"\xe0\x80\xaf", "\\xE0\\x80\\xAF"},                                 // overlong, three bytes
      {"\xed\xa0\x80", "\\xED\\xA0\\x80"},                                 // a surrogate
      {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},                        // past U+10FFFF
      {"end\xe2\x82", "end\\xE2\\x82"},                                    // cut off at the end
      {"\xe2\x86\x92 \xf0\x9f\x93\xbb", "\xe2\x86\x92 \xf0\x9f\x93\xbb"},  // valid: kept
  };
  for (const auto& c : cases) {
    EXPECT_EQ(printableText(c.in), c.out) << c.out;
  }
}

// A message of several lines keeps its line breaks and tabs; all else is escaped as above.
TEST(PrintableText, MessagesKeepTheirLinesAndTabs) {
  EXPECT_EQ(printableLines("Update failed.\nSerial [12\x1b[2J]\tnext\r\nend\rover"),
            "Update failed.\nSerial [12\\x1B[2J]\tnext\r\nend\\x0Dover");
  EXPECT_EQ(printableLines("\n\xc2\x9b\n"), "\n\\xC2\\x9B\n");
}

}  // namespace
}  // namespace orvik
