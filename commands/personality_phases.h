#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "codeplug/cpg.h"
#include "commands/cmd_program.h"
#include "commands/personality_file.h"
#include "link/tovr.h"

namespace orvik {

// The four personality phases that an update runs around its flash work, and that the
// restore from a backup file runs on their own: back up the DYN blocks, back up the
// contacts, write the DYN blocks back, write the contacts back with the master-reset contact
// restore. The phases talk to the radio through the engine, put every answer in the run's
// data buffer and tell their owner about progress and failures through hooks.
class PersonalityPhases {
 public:
  static constexpr std::int32_t kDynBlockType = 0;
  // Memory reads and writes go in pieces of at most this many bytes.
  static constexpr std::uint32_t kMemoryPiece = 220;
  static constexpr std::size_t kContactAnswerSize = 512;
  static constexpr std::uint8_t kContactReadSubCode = 0x30;
  static constexpr std::uint8_t kContactWriteSubCode = 0x31;
  // The radio's order of the four contact lists on the way back: kinds 4, 2, 3, 1.
  static constexpr std::array<int, 4> kRestoreOrder = {4, 2, 3, 1};

  struct Hooks {
    // done units of the phase's total are finished.
    std::function<void(unsigned done, unsigned total)> progress;
    // The phase failed; the owner appends the line and marks its run as failed.
    std::function<void(UpdateFailure failure, std::initializer_list<std::string> arguments)> fail;
  };

  PersonalityPhases(TOVR& engine, std::span<std::uint8_t> dataBuffer, Hooks hooks);

  // Whether size bytes from address lie inside the map's DYN block and below the end of the
  // 24-bit addresses that memory requests carry; an empty range never does.
  static bool insideDynBlock(const CpgBlock& dyn, std::uint64_t address, std::uint64_t size);

  // Reads every DYN record of the list into a buffer of its own. False after the first
  // failed read, which ends the phase.
  bool backupDynBlocks(std::span<const PersonalityBlock> blocks);
  // Reads the radio's contact records into the lists of their kinds.
  bool backupContacts();
  // Writes every DYN backup back to its address and releases it, written or not.
  bool restoreDynBlocks();
  // Writes the contacts back, kind 4, 2, 3 then 1, indices from 1, and then runs the
  // master-reset contact restore. A failed write skips the rest of its list only.
  bool restoreContacts();

  // What the phases hold: the DYN buffers and contact records. The owner fills in the
  // radio's identity before saving it, or loads a saved one for a restore.
  PersonalityBackup& backup() { return backup_; }
  const PersonalityBackup& backup() const { return backup_; }
  std::size_t contactCount() const;
  void release();

 private:
  void progress(unsigned done, unsigned total) const;

  TOVR& engine_;
  std::span<std::uint8_t> data_;
  Hooks hooks_;
  PersonalityBackup backup_;
};

}  // namespace orvik
