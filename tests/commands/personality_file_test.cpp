// The personality backup file: what is written reads back the same, the file name, and every
// kind of damage is refused without trusting a length from the file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
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

  // An empty backup (no blocks, no contacts) is a backup too, and a newer one replaces it.
  ASSERT_TRUE(writePersonalityFile(path, PersonalityBackup{}));
  ASSERT_TRUE(readPersonalityFile(path).has_value());
  EXPECT_TRUE(readPersonalityFile(path)->blocks.empty());
  EXPECT_TRUE(errorLines().empty());
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
      {"../a b/c", "___a_b_c_20240305-140709.orvp"},
      {"", "unknown_20240305-140709.orvp"},
      {std::string(40, 'A'), std::string(32, 'A') + "_20240305-140709.orvp"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(personalityBackupPath(folder, c.serial, when), folder / c.name) << c.serial;
  }
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

TEST_F(PersonalityFileTest, FailedWriteKeepsTheOldFileAndLeavesNothingBehind) {
  const fs::path path = folder / "radio.orvp";
  ASSERT_TRUE(writePersonalityFile(path, sampleBackup()));

  // A backup that would not read back: a contact record too short to carry its kind.
  PersonalityBackup unreadable = sampleBackup();
  unreadable.contactLists[1].push_back(Bytes{1, 2, 3});
  EXPECT_FALSE(writePersonalityFile(path, unreadable));
  EXPECT_EQ(errorLines(),
            Lines{"1:Error:failed to write personality backup file [" + path.string() + "]."});
  ASSERT_TRUE(readPersonalityFile(path).has_value());
  expectSame(*readPersonalityFile(path), sampleBackup());

  // The rename fails (a folder is in the way): the temporary file goes again.
  const fs::path blocked = folder / "blocked.orvp";
  fs::create_directories(blocked / "keep");
  EXPECT_FALSE(writePersonalityFile(blocked, sampleBackup()));
  // A folder that cannot be made, below a file.
  EXPECT_FALSE(writePersonalityFile(path / "sub" / "radio.orvp", sampleBackup()));
  EXPECT_EQ(entries(folder).size(), 2u);
  EXPECT_EQ(errorLines().size(), 3u);
}

}  // namespace
}  // namespace orvik
