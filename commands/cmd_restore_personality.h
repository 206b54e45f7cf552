#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "exec/command.h"

namespace orvik {

// Writes a personality backup file, as an update saves it before erasing anything, back to
// the connected radio: the DYN blocks and the contacts, nothing else. Only the radio the file
// was taken from (same serial number and model) is accepted, and only blocks that lie inside
// the DYN block of the package's address map. The radio is put in TOVR test mode for the
// writing, as an update does before its restore, and re-protected and soft-reset afterwards
// as at the end of an update, since the restore mostly follows an update that failed.
class CmdRestorePersonality : public Command {
 public:
  static constexpr std::size_t kDataBufferSize = 4109;

  bool execute() override;

  bool setBackupFile(const std::filesystem::path& path);
  const std::filesystem::path& backupFile() const { return backupFile_; }
  // The package's address map that places the radio's DYN block.
  bool setAddressMapFile(const std::filesystem::path& path);
  const std::filesystem::path& addressMapFile() const { return addressMapFile_; }
  // True while the personality is being written: ending the program now would leave the radio
  // with part of it. Safe in a signal handler.
  bool writing() const { return writing_.load(); }

 private:
  std::filesystem::path backupFile_;
  std::filesystem::path addressMapFile_;
  std::atomic<bool> writing_{false};
};

}  // namespace orvik
