#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

// What an update in progress is doing to one radio, recorded before its first erase and kept
// until the update has ended well. An update that was interrupted (the tool killed, the power
// gone, the cable pulled) is completed from it on the next run: what it programs again, and
// the personality backup taken before anything was erased.
struct JournalEntry {
  std::string serial;
  // The Unit Private ID (decimal), which names the entry of a radio without a serial number;
  // empty when the radio has none, and in an entry of the first format.
  std::string privateId;
  std::string model;
  // The personality backup taken before the first erase; empty when none was kept.
  std::filesystem::path backupFile;
  // The package files of the update and what it programs.
  std::filesystem::path firmwareFile;
  std::filesystem::path codeplugFile;
  std::filesystem::path addressMapFile;
  bool programFirmware = false;
  bool programCodeplug = false;
  bool keepPersonality = false;
  // The versions before and after, for the people who read it.
  std::string radioFirmware;
  std::string radioCodeplug;
  std::string toolFirmware;
  std::string toolCodeplug;
  std::string started;  // local time
  // The SHA-256 of the package's SHA256SUMS; empty for a package without one (and in entries
  // of versions that did not record it). An interrupted update is completed only from the
  // package it began with.
  std::string packageSha256;
  // The last step the update began.
  std::string stage;
  bool finished = false;
  // The MD5 of each package file above, so that a completion finds the same file wherever
  // the package lies now; empty where nothing is programmed from it, and in an entry of the
  // first format, which had none.
  std::string firmwareDigest;
  std::string codeplugDigest;
  std::string addressMapDigest;
};

// The journal: one entry file per radio (named after its serial number by
// fileNameFromRadioText, so that no two radios share one) in a folder of the
// per-machine folder. Each write replaces the whole file safely (temporary file, fsync,
// rename), and every file ends with a digest, so that a damaged entry is told from a good one.
class UpdateJournal {
 public:
  explicit UpdateJournal(std::filesystem::path folder) : folder_(std::move(folder)) {}

  const std::filesystem::path& folder() const { return folder_; }
  // The entry file of a radio: named after its serial number, or, for a radio without one,
  // after its Unit Private ID; none for a radio with neither, which could not be told from
  // another one when it comes back.
  std::optional<std::filesystem::path> entryPath(const std::string& serial,
                                                 const std::string& privateId = {}) const;

  // An entry of this radio under the name older versions of the tool gave it, when there is
  // none under its own name; read finds it there, and write moves it to its own.
  std::optional<std::filesystem::path> legacyEntryPath(const std::string& serial) const;

  // False, with the reason, when the entry could not be written.
  bool write(const JournalEntry& entry, std::string& reason) const;

  enum class Found { None, Entry, Damaged, OtherRadio };
  // The radio's entry; Damaged, with the reason, for a file that cannot be read or whose
  // digest or fields do not hold; OtherRadio, with that radio's serial number as the reason,
  // for a good entry of another radio at this radio's name.
  Found read(const std::string& serial, JournalEntry& entry, std::string& reason,
             const std::string& privateId = {}) const;

  struct Listed {
    std::filesystem::path path;
    std::optional<JournalEntry> entry;  // none: damaged, see reason
    std::string reason;
  };
  // Every entry file of the folder, in name order.
  std::vector<Listed> list() const;

 private:
  std::filesystem::path folder_;
};

// The journal below the per-machine folder: <data-dir>/journal.
std::filesystem::path journalFolder(const std::filesystem::path& dataDir);

// The MD5 of a package file as the entry records it; nothing when it cannot be read.
std::optional<std::string> fileDigest(const std::filesystem::path& path);

// The text and the parsing of one entry file.
std::string journalText(const JournalEntry& entry);
std::optional<JournalEntry> parseJournalText(const std::string& text, std::string& reason);

}  // namespace orvik
