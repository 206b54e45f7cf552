#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

// What an update saves of a radio before it erases anything: the owner's personal blocks and
// contacts, with enough of the radio's identity to write them back to the same radio later.
struct PersonalityBackup {
  struct Block {
    std::int32_t blockType = 0;  // codeplug block index; 0 is DYN
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
  };

  std::string model;   // model text, such as "LA26CKN9AR1"
  std::string serial;  // serial number text
  std::array<std::uint8_t, 4> firmwareVersion{};
  std::array<std::uint8_t, 4> codeplugVersion{};
  std::vector<Block> blocks;
  // Contact records as the radio returned them, per list kind 1 to 4 (index 0 is kind 1), each
  // list in the order the records were read.
  std::array<std::vector<std::vector<std::uint8_t>>, 4> contactLists;
};

// The file name of a backup taken now: the serial number and the local time, in the given
// folder (normally <data-dir>/backup).
std::filesystem::path personalityBackupPath(const std::filesystem::path& folder,
                                            const std::string& serial,
                                            std::chrono::system_clock::time_point when);

// Writes the backup through a temporary file in the same folder, fsync and rename, creating
// the folder when needed. False, with the old file (if any) untouched, when anything fails.
bool writePersonalityFile(const std::filesystem::path& path, const PersonalityBackup& backup);

// Reads a backup file back; no value (with one line in the error text) for a file that is
// missing, damaged, of another format version, or that does not describe itself consistently.
std::optional<PersonalityBackup> readPersonalityFile(const std::filesystem::path& path);

}  // namespace orvik
