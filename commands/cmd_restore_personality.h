#pragma once

#include <filesystem>
#include <string>

#include "exec/command.h"

namespace orvik {

// Writes a personality backup file, as an update saves it before erasing anything, back to
// the connected radio: the DYN blocks and the contacts, nothing else. Only the radio the file
// was taken from (same serial number and model) is accepted. The radio is put in TOVR test
// mode for the writing, as an update does before its restore, and soft-reset afterwards so
// that it starts with what was written.
class CmdRestorePersonality : public Command {
 public:
  static constexpr std::size_t kDataBufferSize = 4109;

  bool execute() override;

  bool setBackupFile(const std::filesystem::path& path);
  const std::filesystem::path& backupFile() const { return backupFile_; }

 private:
  std::filesystem::path backupFile_;
};

}  // namespace orvik
