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

// A radio's text (serial number, model) as part of a file name, one name per text: letters,
// digits and '-' as they are, every other byte as %XX, so that it can neither leave its folder
// nor hide the file. A name that would be long is cut and ends with '~' and a digest of the
// whole text. Empty for an empty text.
std::string fileNameFromRadioText(const std::string& text);

// The file name of a backup taken at the time: the serial number and the local time, in the
// given folder (normally <data-dir>/backup). A radio without a serial number is named by its
// model and a digest of what is saved, so that the names of such radios still differ.
std::filesystem::path personalityBackupPath(const std::filesystem::path& folder,
                                            const PersonalityBackup& backup,
                                            std::chrono::system_clock::time_point when);

// Writes the backup to a new file through a temporary file in the same folder, fsync and a
// link to the name, creating the folder when needed. Never replaces a file: false, with a line
// that gives the reason, when the name is taken or anything fails; nothing is left behind.
bool writePersonalityFile(const std::filesystem::path& path, const PersonalityBackup& backup);

// Saves a backup taken at the time in a new file of the folder, named by
// personalityBackupPath; when another run took that name (the same radio within the same
// second) the next suffix is taken: "-2", "-3" and so on. The path written, or nothing with a
// line that gives the reason, which also goes to reason.
std::optional<std::filesystem::path> savePersonalityBackup(
    const std::filesystem::path& folder, const PersonalityBackup& backup,
    std::chrono::system_clock::time_point when, std::string& reason);

// Reads a backup file back; no value (with one line in the error text) for a file that is
// missing, damaged, of another format version, or that does not describe itself consistently.
std::optional<PersonalityBackup> readPersonalityFile(const std::filesystem::path& path);

}  // namespace orvik
