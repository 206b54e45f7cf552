// The personality backup file: what is written reads back the same, the file name, and every
// kind of damage is refused without trusting a length from the file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>

#include "commands/personality_file.h"
#include "commands/personality_file_bytes.h"
#include "package/md5.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using testing::errorLines;

Bytes contact(std::uint8_t kind, std::uint8_t tag) {
  return {tag, 1, 2, 3, 4, 5, 6, kind, tag, 9};
}

PersonalityBackup sampleBackup() {
  PersonalityBackup backup;
  backup.model = "LA26CKN9AR1";
  backup.serial = "1234ABC5678";
  backup.firmwareVersion = {'R', 1, 2, 3};
  backup.codeplugVersion = {'R', 1, 2, 0};
  Bytes dyn(1000);
  std::iota(dyn.begin(), dyn.end(), 0);
  backup.blocks.push_back({0, 0x820000, dyn});
  backup.blocks.push_back({2, 0x830000, Bytes{0xAA, 0xBB}});
  backup.contactLists[0] = {contact(1, 10), contact(1, 11)};
  backup.contactLists[3] = {contact(4, 40)};
  return backup;
}

void expectSame(const PersonalityBackup& a, const PersonalityBackup& b) {
  EXPECT_EQ(a.model, b.model);
  EXPECT_EQ(a.serial, b.serial);
  EXPECT_EQ(a.firmwareVersion, b.firmwareVersion);
  EXPECT_EQ(a.codeplugVersion, b.codeplugVersion);
  ASSERT_EQ(a.blocks.size(), b.blocks.size());
  for (std::size_t i = 0; i < a.blocks.size(); ++i) {
    EXPECT_EQ(a.blocks[i].blockType, b.blocks[i].blockType);
    EXPECT_EQ(a.blocks[i].address, b.blocks[i].address);
    EXPECT_EQ(a.blocks[i].bytes, b.blocks[i].bytes);
  }
  EXPECT_EQ(a.contactLists, b.contactLists);
}

// Makes the digest right again after a change, so that the check behind it is reached.
void redigest(Bytes& file) {
  const auto body = std::span(file).first(file.size() - kPersonalityDigestSize);
  const Md5Digest digest = md5Digest(body);
  std::copy(digest.begin(), digest.end(), file.end() - kPersonalityDigestSize);
}

class PersonalityFileTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    std::string pattern = (fs::temp_directory_path() / "orvik-personality-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    fs::remove_all(folder);
    ErrorTextTest::TearDown();
  }
  std::vector<fs::path> entries(const fs::path& where) const {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(where)) {
      names.push_back(entry.path().filename());
    }
    return names;
  }

  fs::path folder;
};

TEST_F(PersonalityFileTest, WrittenBackupReadsBackTheSameAndLeavesOnlyItsFile) {
  const fs::path backupFolder = folder / "data" / "backup";  // created on the way
  const fs::path path = backupFolder / "radio.orvp";
  const PersonalityBackup backup = sampleBackup();
  ASSERT_TRUE(writePersonalityFile(path, backup));
  EXPECT_EQ(entries(backupFolder), std::vector<fs::path>{"radio.orvp"});
  // The owner's contacts are readable by the owner only.
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  const std::optional<PersonalityBackup> read = readPersonalityFile(path);
  ASSERT_TRUE(read.has_value());
  expectSame(*read, backup);

  // An empty backup (no blocks, no contacts) is a backup too.
  const fs::path empty = backupFolder / "empty.orvp";
  ASSERT_TRUE(writePersonalityFile(empty, PersonalityBackup{}));
  ASSERT_TRUE(readPersonalityFile(empty).has_value());
  EXPECT_TRUE(readPersonalityFile(empty)->blocks.empty());
  EXPECT_TRUE(errorLines().empty());

  // A backup never replaces another: the earlier one may be all that is left of a radio.
  EXPECT_FALSE(writePersonalityFile(path, PersonalityBackup{}));
  EXPECT_EQ(errorLines(), Lines{"9:Error:failed to write personality backup file [" +
                                path.string() + "] (File exists)."});
  expectSame(*readPersonalityFile(path), backup);
  EXPECT_EQ(entries(backupFolder).size(), 2u);
}

// Runs of the same radio within the same second, also from two processes at once, each get a
// file of their own; none replaces another.
TEST_F(PersonalityFileTest, SavedBackupsNeverCollide) {
  const auto when = std::chrono::system_clock::now();
  const PersonalityBackup backup = sampleBackup();
  const fs::path first = personalityBackupPath(folder, backup, when);
  std::ofstream(first) << "someone else's";

  std::string reason;
  const auto saved = savePersonalityBackup(folder, backup, when, reason);
  ASSERT_TRUE(saved) << reason;
  EXPECT_EQ(saved->filename().string(), first.stem().string() + "-2.orvp");
  // A taken name is no reason to report: the update would say the backup was not saved.
  EXPECT_EQ(reason, "");
  std::ifstream kept(first);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "someone else's");

  constexpr int kEach = 10;
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kEach; ++i) {
        std::string why;
        failures += savePersonalityBackup(folder, backup, when, why) ? 0 : 1;
      }
      ::_exit(failures);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const std::vector<fs::path> names = entries(folder);
  EXPECT_EQ(names.size(), 2u + 2 * kEach);
  for (const fs::path& name : names) {
    if (folder / name != first) {
      ASSERT_TRUE(readPersonalityFile(folder / name).has_value()) << name;
    }
  }
}

// A write that runs into the file size limit fails with its reason and leaves no temporary
// file, instead of the signal ending the program half way. In a child, whose limit it is.
TEST_F(PersonalityFileTest, FileSizeLimitFailsTheSaveAndLeavesNothingBehind) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const rlimit small{256, 256};
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::string reason;
    const auto saved =
        savePersonalityBackup(folder, sampleBackup(), std::chrono::system_clock::now(), reason);
    const Lines lines = errorLines();
    const bool said = lines.size() == 1 && lines[0].starts_with("9:") &&
                      lines[0].ends_with("(File too large).") && reason == "File too large";
    ::_exit(!saved && said ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(entries(folder).empty());
}

TEST_F(PersonalityFileTest, FileNameIsTheSafeSerialAndTheLocalTime) {
  std::tm local{};
  local.tm_year = 2024 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 5;
  local.tm_hour = 14;
  local.tm_min = 7;
  local.tm_sec = 9;
  local.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local));
  const struct {
    std::string serial;
    std::string name;
  } cases[] = {
      {"1234ABC5678", "1234ABC5678_20240305-140709.orvp"},
      {"../a b/c", "%2E%2E%2Fa%20b%2Fc_20240305-140709.orvp"},
      {std::string(40, 'A'), std::string(40, 'A') + "_20240305-140709.orvp"},
  };
  PersonalityBackup backup = sampleBackup();
  for (const auto& c : cases) {
    backup.serial = c.serial;
    EXPECT_EQ(personalityBackupPath(folder, backup, when), folder / c.name) << c.serial;
  }

  // Without a serial number the model and a digest of the personality tell radios apart.
  backup.serial.clear();
  const std::string name = personalityBackupPath(folder, backup, when).filename().string();
  EXPECT_TRUE(name.starts_with("~LA26CKN9AR1-")) << name;
  EXPECT_TRUE(name.ends_with("_20240305-140709.orvp")) << name;
  PersonalityBackup other = backup;
  other.blocks[0].bytes[0] ^= 0xFF;
  EXPECT_NE(personalityBackupPath(folder, other, when),
            personalityBackupPath(folder, backup, when));
  other.model.clear();
  EXPECT_TRUE(
      personalityBackupPath(folder, other, when).filename().string().starts_with("~unknown-"));
}

TEST_F(PersonalityFileTest, DamagedOrInconsistentFilesAreRefused) {
  const Bytes good = *encodePersonalityBackup(sampleBackup());
  // Offsets: magic 0, version 4, model length 6, model 8 (11 bytes), serial length 19.
  constexpr std::size_t kModelLength = 6;
  constexpr std::size_t kBlocks = 19 + 2 + 11 + 8;  // block count
  constexpr std::size_t kFirstBlockType = kBlocks + 2;
  constexpr std::size_t kFirstBlockSize = kFirstBlockType + 5;
  // After the 1000 DYN bytes: the second block (9 + 2 bytes), list 1's count and its first
  // record's length, then that record.
  constexpr std::size_t kFirstContact = kFirstBlockSize + 4 + 1000 + 11 + 2 + 2;
  const struct {
    const char* what;
    std::function<void(Bytes&)> change;
    bool fixDigest;
  } cases[] = {
      {"one byte changed", [](Bytes& f) { f[30] ^= 0x01; }, false},
      {"digest changed", [](Bytes& f) { f.back() ^= 0x80; }, false},
      {"cut short", [](Bytes& f) { f.pop_back(); }, false},
      {"too short for anything", [](Bytes& f) { f.resize(10); }, false},
      {"other magic", [](Bytes& f) { f[0] = 'X'; }, true},
      {"other format version", [](Bytes& f) { f[5] = 2; }, true},
      {"model length beyond the file", [](Bytes& f) { f[kModelLength] = 0xFF; }, true},
      {"block count beyond the file", [](Bytes& f) { f[kBlocks] = 0x7F; }, true},
      {"block size beyond the file", [](Bytes& f) { f[kFirstBlockSize] = 0xFF; }, true},
      {"not a codeplug block", [](Bytes& f) { f[kFirstBlockType] = 9; }, true},
      // The first contact record of list 1 claims kind 2.
      {"contact in the wrong list", [](Bytes& f) { f[kFirstContact + 7] = 2; }, true},
      {"bytes after the last list", [](Bytes& f) { f.insert(f.end() - 16, 0); }, true},
  };
  for (const auto& c : cases) {
    Bytes file = good;
    c.change(file);
    if (c.fixDigest) {
      redigest(file);
    }
    EXPECT_FALSE(decodePersonalityBackup(file).has_value()) << c.what;
  }
  // The offsets above point where they should: unchanged but redigested, the file is good.
  Bytes same = good;
  redigest(same);
  EXPECT_TRUE(decodePersonalityBackup(same).has_value());
}

TEST_F(PersonalityFileTest, ReadFailuresLeaveOneFileLine) {
  const fs::path missing = folder / "missing.orvp";
  EXPECT_FALSE(readPersonalityFile(missing).has_value());
  EXPECT_EQ(errorLines(),
            Lines{"1:Error:failed to read personality backup file [" + missing.string() + "]."});
  removeErrors(ErrorCategory::OK);

  const fs::path damaged = folder / "damaged.orvp";
  Bytes file = *encodePersonalityBackup(sampleBackup());
  file[40] ^= 0xFF;
  std::ofstream(damaged, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  EXPECT_FALSE(readPersonalityFile(damaged).has_value());
  EXPECT_EQ(errorLines(),
            Lines{"1:Error:invalid personality backup file [" + damaged.string() + "]."});
}

TEST_F(PersonalityFileTest, FailedWriteSaysWhyAndLeavesNothingBehind) {
  const fs::path path = folder / "radio.orvp";
  // A backup that would not read back: a contact record too short to carry its kind.
  PersonalityBackup unreadable = sampleBackup();
  unreadable.contactLists[1].push_back(Bytes{1, 2, 3});
  EXPECT_FALSE(writePersonalityFile(path, unreadable));
  // The name is taken by a folder.
  const fs::path blocked = folder / "blocked.orvp";
  fs::create_directories(blocked / "keep");
  EXPECT_FALSE(writePersonalityFile(blocked, sampleBackup()));
  // A folder that cannot be made, below a file.
  std::ofstream(folder / "file") << "x";
  EXPECT_FALSE(writePersonalityFile(folder / "file" / "sub" / "radio.orvp", sampleBackup()));
  // None of this is a package file's problem: the lines are the update's, with the reason.
  EXPECT_EQ(
      errorLines(),
      (Lines{"9:Error:failed to write personality backup file [" + path.string() +
                 "] (the backup cannot be written in the file's format).",
             "9:Error:failed to write personality backup file [" + blocked.string() +
                 "] (File exists).",
             "9:Error:failed to write personality backup file [" +
                 (folder / "file" / "sub" / "radio.orvp").string() + "] (Not a directory)."}));
  EXPECT_EQ(entries(folder).size(), 2u);
}

}  // namespace
}  // namespace orvik
