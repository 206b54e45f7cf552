// Each radio has a journal entry and backup names of its own, whatever its serial number holds,
// and a completion tells an interrupted update's traces from a personality changed since.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "commands/cmd_program.h"
#include "commands/personality_file.h"
#include "commands/update_journal.h"
#include "package/md5.h"
#include "tests/package/temp_folder.h"

namespace orvik::testing {
namespace {

namespace fs = std::filesystem;

// Serial numbers that older names folded together, or that a name could misuse.
const std::vector<std::string>& awkwardSerials() {
  static const std::vector<std::string> serials = {"AB/1",
                                                   "AB_1",
                                                   "AB:1",
                                                   "AB%2F1",
                                                   "..",
                                                   ".",
                                                   "%41",
                                                   "A",
                                                   "AB\xC3\xA9",
                                                   "AB\xFF",
                                                   "a\nb",
                                                   std::string(200, 'Q'),
                                                   std::string(199, 'Q') + "R",
                                                   std::string(150, '/')};
  return serials;
}

JournalEntry entryOf(const std::string& serial) {
  JournalEntry entry;
  entry.serial = serial;
  entry.model = "LA26CKN9AR1";
  entry.stage = "programming the firmware";
  return entry;
}

TEST(JournalKeys, NoTwoSerialNumbersShareAnEntryOrABackupName) {
  TempFolder temp;
  const UpdateJournal journal(temp.path() / "journal");
  std::set<fs::path> entries;
  std::set<std::string> backupStems;
  const auto when = std::chrono::system_clock::now();
  for (const std::string& serial : awkwardSerials()) {
    SCOPED_TRACE(serial);
    const std::optional<fs::path> path = journal.entryPath(serial);
    ASSERT_TRUE(path.has_value());
    // In the folder itself, visible, and bounded.
    EXPECT_EQ(path->parent_path(), journal.folder());
    EXPECT_NE(path->filename().string().front(), '.');
    EXPECT_LE(path->filename().string().size(), 120u);
    EXPECT_TRUE(entries.insert(*path).second) << *path;

    PersonalityBackup backup;
    backup.serial = serial;
    backup.model = "LA26CKN9AR1";
    const fs::path backupPath = personalityBackupPath(temp.path() / "backup", backup, when);
    EXPECT_EQ(backupPath.parent_path(), temp.path() / "backup");
    EXPECT_TRUE(backupStems.insert(backupPath.filename().string()).second) << backupPath;

    std::string reason;
    ASSERT_TRUE(journal.write(entryOf(serial), reason)) << reason;
  }
  // Each reads back as its own radio's.
  for (const std::string& serial : awkwardSerials()) {
    SCOPED_TRACE(serial);
    JournalEntry read;
    std::string reason;
    ASSERT_EQ(journal.read(serial, read, reason), UpdateJournal::Found::Entry) << reason;
    EXPECT_EQ(read.serial, serial);
  }
  EXPECT_EQ(journal.list().size(), awkwardSerials().size());
  // A plain serial number keeps the name it always had; no name is taken for no number.
  EXPECT_EQ(journal.entryPath("1234ABC-5678")->filename(), "1234ABC-5678.journal");
  EXPECT_EQ(journal.entryPath("AB/1")->filename(), "AB%2F1.journal");
  EXPECT_FALSE(journal.entryPath("").has_value());

  // Radios never given a serial number are told apart by their Unit Private ID.
  for (const char* privateId : {"1000", "1001"}) {
    JournalEntry entry = entryOf("");
    entry.privateId = privateId;
    std::string reason;
    ASSERT_TRUE(journal.write(entry, reason)) << reason;
    JournalEntry read;
    ASSERT_EQ(journal.read("", read, reason, privateId), UpdateJournal::Found::Entry) << reason;
    EXPECT_EQ(read.privateId, privateId);
    EXPECT_TRUE(entries.insert(*journal.entryPath("", privateId)).second);
  }
  JournalEntry none = entryOf("");
  std::string reason;
  EXPECT_FALSE(journal.write(none, reason));
}

TEST(JournalKeys, AnEntryUnderAnOlderSharedNameCountsOnlyForItsOwnRadio) {
  TempFolder temp;
  const UpdateJournal journal(temp.path() / "journal");
  fs::create_directories(journal.folder());
  // Written by an older version, which named the entries of AB/1, AB_1 and AB:1 alike.
  std::ofstream(journal.folder() / "AB_1.journal") << journalText(entryOf("AB/1"));

  JournalEntry read;
  std::string reason;
  ASSERT_EQ(journal.read("AB/1", read, reason), UpdateJournal::Found::Entry) << reason;
  EXPECT_EQ(journal.read("AB:1", read, reason), UpdateJournal::Found::None);
  EXPECT_EQ(journal.read("AB_1", read, reason), UpdateJournal::Found::None);
  // Carried on under its own name, the older file goes.
  ASSERT_TRUE(journal.write(entryOf("AB/1"), reason)) << reason;
  EXPECT_FALSE(fs::exists(journal.folder() / "AB_1.journal"));
  EXPECT_TRUE(fs::exists(journal.folder() / "AB%2F1.journal"));

  // Another radio's entry at this radio's name is told as such, not as damage to remove.
  fs::copy_file(journal.folder() / "AB%2F1.journal", journal.folder() / "AB%3A1.journal");
  EXPECT_EQ(journal.read("AB:1", read, reason), UpdateJournal::Found::OtherRadio);
  EXPECT_EQ(reason, "AB/1");
}

TEST(JournalKeys, AnEntryOfTheFirstFormatIsReadWithoutDigests) {
  JournalEntry entry = entryOf("1234ABC5678");
  entry.firmwareDigest = std::string(32, 'a');
  std::string reason;
  const std::optional<JournalEntry> now = parseJournalText(journalText(entry), reason);
  ASSERT_TRUE(now.has_value()) << reason;
  EXPECT_EQ(now->firmwareDigest, entry.firmwareDigest);
  entry.firmwareDigest = "not hex";
  EXPECT_FALSE(parseJournalText(journalText(entry), reason).has_value());

  // As the first format wrote it: no digest lines.
  const std::string body =
      "ORVIK UPDATE JOURNAL 1\n"
      "serial=1234ABC5678\nmodel=LA26CKN9AR1\nbackup=/b/x.orvp\nfirmware_file=/p/fw.kxk\n"
      "codeplug_file=/p/def.kxk\naddress_map_file=/p/addr.kxk\nprogram_firmware=yes\n"
      "program_codeplug=yes\nkeep_personality=yes\nradio_firmware=R01.02.03\n"
      "radio_codeplug=R01.02.00\ntool_firmware=R01.03.00\ntool_codeplug=R01.04.00\n"
      "started=2026-12-10 14:05:09\nstage=programming the firmware\nfinished=no\n";
  std::string digest;
  for (const std::uint8_t b :
       md5Digest(std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()))) {
    digest += "0123456789abcdef"[b >> 4];
    digest += "0123456789abcdef"[b & 0x0F];
  }
  const std::optional<JournalEntry> old = parseJournalText(body + "md5=" + digest + "\n", reason);
  ASSERT_TRUE(old.has_value()) << reason;
  EXPECT_EQ(old->firmwareFile, "/p/fw.kxk");
  EXPECT_EQ(old->toolCodeplug, "R01.04.00");
  EXPECT_TRUE(old->firmwareDigest.empty());
  EXPECT_TRUE(old->addressMapDigest.empty());
  EXPECT_TRUE(old->packageSha256.empty());
  EXPECT_TRUE(old->privateId.empty());
}

PersonalityBackup personality(std::uint8_t fill, std::vector<std::vector<std::uint8_t>> contacts) {
  PersonalityBackup backup;
  std::vector<std::uint8_t> dyn(500);
  for (std::size_t i = 0; i < dyn.size(); ++i) {
    dyn[i] = static_cast<std::uint8_t>(fill + i);
  }
  backup.blocks.push_back({0, 0x820000, dyn});
  backup.contactLists[0] = std::move(contacts);
  backup.firmwareVersion = {'R', 1, 3, 0};  // the update's, as the entries below say
  return backup;
}

std::vector<std::uint8_t> contact(std::uint8_t id) {
  std::vector<std::uint8_t> record(12, id);
  record[7] = 1;
  return record;
}

TEST(JournalKeys, OnlyAnInterruptionsTracesCountAsExplained) {
  const PersonalityBackup saved = personality(1, {contact(1), contact(2)});
  const auto withDyn = [&](auto change) {
    PersonalityBackup now = saved;
    change(now.blocks[0].bytes);
    return now;
  };
  const auto blankFrom = [](std::size_t from, std::uint8_t value) {
    return [=](std::vector<std::uint8_t>& bytes) {
      std::fill(bytes.begin() + static_cast<long>(from), bytes.end(), value);
    };
  };
  PersonalityBackup fewerContacts = saved;
  fewerContacts.contactLists[0].pop_back();
  PersonalityBackup newContact = saved;
  newContact.contactLists[0].push_back(contact(9));
  PersonalityBackup otherFirmware = withDyn(blankFrom(0, 0xFF));
  otherFirmware.firmwareVersion = {'R', 1, 5, 0};
  PersonalityBackup reordered = saved;
  std::swap(reordered.contactLists[0][0], reordered.contactLists[0][1]);

  const struct {
    const char* name;
    const char* stage;
    PersonalityBackup now;
    bool explained;
    bool contactsRead = true;
  } cases[] = {
      {"the same, before any erase", "starting", saved, true},
      {"the same, contacts in another order", "re-protecting the radio", reordered, true},
      {"erased, at the block reset", "resetting the radio", withDyn(blankFrom(0, 0xFF)), true},
      {"half written back", "restoring the personality", withDyn(blankFrom(220, 0x00)), true},
      {"contacts half written back", "restoring the personality", fewerContacts, true},
      {"erased, but the update had not got there", "starting", withDyn(blankFrom(0, 0xFF)), false},
      {"changed by the owner", "restoring the personality",
       withDyn([](auto& bytes) { bytes[300] ^= 0x5A; }), false},
      {"changed after the restore", "re-protecting the radio", withDyn(blankFrom(220, 0x00)),
       false},
      {"a contact the backup does not hold", "restoring the personality", newContact, false},
      {"contacts gone before the reset", "programming the firmware", fewerContacts, false},
      {"contacts unreadable in the restore", "restoring the personality", saved, true, false},
      {"erased, but running another firmware", "resetting the radio", otherFirmware, false},
      {"contacts unreadable before the update", "starting", saved, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JournalEntry entry = entryOf("1234ABC5678");
    entry.stage = c.stage;
    entry.programFirmware = true;
    entry.toolFirmware = "R01.03.00";
    EXPECT_EQ(personalityExplainedByInterruption(entry, saved, c.now, c.contactsRead), c.explained);
  }
}

}  // namespace
}  // namespace orvik::testing
