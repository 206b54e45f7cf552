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
};

// The journal: one entry file per radio (named after its serial number) in a folder of the
// per-machine folder. Each write replaces the whole file safely (temporary file, fsync,
// rename), and every file ends with a digest, so that a damaged entry is told from a good one.
class UpdateJournal {
 public:
  explicit UpdateJournal(std::filesystem::path folder) : folder_(std::move(folder)) {}

  const std::filesystem::path& folder() const { return folder_; }
  // The entry file of a radio; none for a radio without a serial number, which could not be
  // told from another one when it comes back.
  std::optional<std::filesystem::path> entryPath(const std::string& serial) const;

  // False, with the reason, when the entry could not be written.
  bool write(const JournalEntry& entry, std::string& reason) const;

  enum class Found { None, Entry, Damaged };
  // The radio's entry; Damaged, with the reason, for a file that cannot be read or whose
  // digest or fields do not hold.
  Found read(const std::string& serial, JournalEntry& entry, std::string& reason) const;

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

// The text and the parsing of one entry file.
std::string journalText(const JournalEntry& entry);
std::optional<JournalEntry> parseJournalText(const std::string& text, std::string& reason);

}  // namespace orvik
