// The update journal's entry files: what is written reads back the same, whatever the paths
// hold, and a damaged file is told from a good one.
#include "commands/update_journal.h"

#include <gtest/gtest.h>

#include <fstream>

#include "package/md5.h"
#include "tests/package/temp_folder.h"

namespace orvik::testing {
namespace {

JournalEntry sampleEntry() {
  JournalEntry entry;
  entry.serial = "1234ABC5678";
  entry.model = "LA26CKN9AR1";
  entry.backupFile = "/home/dealer/odd\\name\nwith=signs.orvp";
  entry.firmwareFile = "/opt/orvik-update-tool/data/fw.kxk";
  entry.codeplugFile = "/opt/orvik-update-tool/data/def.kxk";
  entry.addressMapFile = "/opt/orvik-update-tool/data/addr.kxk";
  entry.programFirmware = true;
  entry.programCodeplug = true;
  entry.keepPersonality = true;
  entry.radioFirmware = "R01.02.03";
  entry.toolFirmware = "R01.03.00";
  entry.started = "2026-12-10 14:05:09";
  entry.stage = "programming the firmware";
  entry.packageSha256 = std::string(64, 'c');
  return entry;
}

bool sameEntry(const JournalEntry& a, const JournalEntry& b) {
  return journalText(a) == journalText(b);
}

TEST(UpdateJournal, AnEntryReadsBackAsWrittenAndDamageIsTold) {
  TempFolder temp;
  const UpdateJournal journal(temp.path() / "journal");
  const JournalEntry entry = sampleEntry();
  std::string reason;
  ASSERT_TRUE(journal.write(entry, reason)) << reason;
  JournalEntry read;
  ASSERT_EQ(journal.read(entry.serial, read, reason), UpdateJournal::Found::Entry) << reason;
  EXPECT_TRUE(sameEntry(read, entry));
  EXPECT_EQ(read.backupFile, entry.backupFile);
  EXPECT_EQ(journal.read("OTHER", read, reason), UpdateJournal::Found::None);
  // A radio without a serial number has no entry: it could not be told from another.
  EXPECT_FALSE(journal.entryPath("").has_value());

  const std::string text = journalText(entry);
  const struct {
    const char* name;
    std::string text;
  } damaged[] = {
      {"cut off", text.substr(0, text.size() / 2)},
      {"a changed byte",
       [&] {
         std::string changed = text;
         changed[30] ^= 0x01;
         return changed;
       }()},
      {"not an entry", "hello\n"},
  };
  for (const auto& c : damaged) {
    SCOPED_TRACE(c.name);
    std::ofstream(*journal.entryPath(entry.serial), std::ios::binary | std::ios::trunc) << c.text;
    reason.clear();
    EXPECT_EQ(journal.read(entry.serial, read, reason), UpdateJournal::Found::Damaged);
    EXPECT_FALSE(reason.empty());
    const std::vector<UpdateJournal::Listed> listed = journal.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_FALSE(listed[0].entry.has_value());
  }
}

// Entries written before the package's SHA-256 was recorded still read, with none.
TEST(UpdateJournal, AnEntryWithoutThePackageDigestReads) {
  JournalEntry entry = sampleEntry();
  entry.packageSha256.clear();
  std::string body = journalText(entry);
  body = body.substr(0, body.rfind("md5="));
  const std::string line = "package_sha256=\n";
  ASSERT_NE(body.find(line), std::string::npos);
  body.erase(body.find(line), line.size());
  const Md5Digest digest =
      md5Digest(std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
  std::string hex;
  for (const std::uint8_t b : digest) {
    hex += "0123456789abcdef"[b >> 4];
    hex += "0123456789abcdef"[b & 15];
  }
  std::string reason;
  const auto read = parseJournalText(body + "md5=" + hex + "\n", reason);
  ASSERT_TRUE(read) << reason;
  EXPECT_TRUE(read->packageSha256.empty());
  EXPECT_EQ(read->stage, entry.stage);
}

}  // namespace
}  // namespace orvik::testing
