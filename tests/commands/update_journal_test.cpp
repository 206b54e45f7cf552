// The update journal's entry files: what is written reads back the same, whatever the paths
// hold, and a damaged file is told from a good one.
#include "commands/update_journal.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/package/temp_folder.h"

namespace orvik::testing {
namespace {

// Every field set, and none to its default, so that a field lost on the way shows.
JournalEntry sampleEntry() {
  JournalEntry entry;
  entry.serial = "1234ABC5678";
  entry.privateId = "305419896";
  entry.model = "LA26CKN9AR1";
  entry.backupFile = "/home/dealer/odd\\name\nwith=signs.orvp";
  entry.firmwareFile = "/opt/orvik-update-tool/data/fw.kxk";
  entry.codeplugFile = "/opt/orvik-update-tool/data/def.kxk";
  entry.addressMapFile = "/opt/orvik-update-tool/data/addr.kxk";
  entry.programFirmware = true;
  entry.programCodeplug = true;
  entry.keepPersonality = true;
  entry.radioFirmware = "R01.02.03";
  entry.radioCodeplug = "R01.02.00";
  entry.toolFirmware = "R01.03.00";
  entry.toolCodeplug = "R01.04.00";
  entry.started = "2026-12-10 14:05:09";
  entry.stage = "programming the firmware";
  entry.finished = true;
  entry.packageSha256 = std::string(64, 'c');
  entry.firmwareDigest = std::string(32, 'a');
  entry.codeplugDigest = std::string(32, 'b');
  entry.addressMapDigest = std::string(32, 'd');
  return entry;
}

// Field by field, not through the entry's own text, which would drop a field on both sides.
void expectSameEntry(const JournalEntry& read, const JournalEntry& written) {
  EXPECT_EQ(read.serial, written.serial);
  EXPECT_EQ(read.privateId, written.privateId);
  EXPECT_EQ(read.model, written.model);
  EXPECT_EQ(read.backupFile, written.backupFile);
  EXPECT_EQ(read.firmwareFile, written.firmwareFile);
  EXPECT_EQ(read.codeplugFile, written.codeplugFile);
  EXPECT_EQ(read.addressMapFile, written.addressMapFile);
  EXPECT_EQ(read.programFirmware, written.programFirmware);
  EXPECT_EQ(read.programCodeplug, written.programCodeplug);
  EXPECT_EQ(read.keepPersonality, written.keepPersonality);
  EXPECT_EQ(read.radioFirmware, written.radioFirmware);
  EXPECT_EQ(read.radioCodeplug, written.radioCodeplug);
  EXPECT_EQ(read.toolFirmware, written.toolFirmware);
  EXPECT_EQ(read.toolCodeplug, written.toolCodeplug);
  EXPECT_EQ(read.started, written.started);
  EXPECT_EQ(read.stage, written.stage);
  EXPECT_EQ(read.finished, written.finished);
  EXPECT_EQ(read.packageSha256, written.packageSha256);
  EXPECT_EQ(read.firmwareDigest, written.firmwareDigest);
  EXPECT_EQ(read.codeplugDigest, written.codeplugDigest);
  EXPECT_EQ(read.addressMapDigest, written.addressMapDigest);
}

// The file as it stands on disk: entries written by earlier versions of the tool must still
// read, so the text is pinned, not only its round trip.
TEST(UpdateJournal, AnEntrysTextIsExactlyThis) {
  EXPECT_EQ(journalText(sampleEntry()),
            "ORVIK UPDATE JOURNAL 2\n"
            "serial=1234ABC5678\n"
            "model=LA26CKN9AR1\n"
            "private_id=305419896\n"
            "backup=/home/dealer/odd\\\\name\\nwith=signs.orvp\n"
            "firmware_file=/opt/orvik-update-tool/data/fw.kxk\n"
            "codeplug_file=/opt/orvik-update-tool/data/def.kxk\n"
            "address_map_file=/opt/orvik-update-tool/data/addr.kxk\n"
            "program_firmware=yes\n"
            "program_codeplug=yes\n"
            "keep_personality=yes\n"
            "radio_firmware=R01.02.03\n"
            "radio_codeplug=R01.02.00\n"
            "tool_firmware=R01.03.00\n"
            "tool_codeplug=R01.04.00\n"
            "started=2026-12-10 14:05:09\n"
            "package_sha256=" +
                std::string(64, 'c') +
                "\n"
                "stage=programming the firmware\n"
                "finished=yes\n"
                "firmware_md5=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n"
                "codeplug_md5=bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb\n"
                "address_map_md5=dddddddddddddddddddddddddddddddd\n"
                "md5=792675aebe8545053290300df5162d69\n");
}

TEST(UpdateJournal, AnEntryReadsBackAsWrittenAndDamageIsTold) {
  TempFolder temp;
  const UpdateJournal journal(temp.path() / "journal");
  const JournalEntry entry = sampleEntry();
  std::string reason;
  ASSERT_TRUE(journal.write(entry, reason)) << reason;
  JournalEntry read;
  ASSERT_EQ(journal.read(entry.serial, read, reason), UpdateJournal::Found::Entry) << reason;
  expectSameEntry(read, entry);
  // The flags read back as No too.
  JournalEntry unset = entry;
  unset.programFirmware = unset.programCodeplug = unset.keepPersonality = unset.finished = false;
  ASSERT_TRUE(journal.write(unset, reason)) << reason;
  ASSERT_EQ(journal.read(entry.serial, read, reason), UpdateJournal::Found::Entry) << reason;
  expectSameEntry(read, unset);
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

}  // namespace
}  // namespace orvik::testing
