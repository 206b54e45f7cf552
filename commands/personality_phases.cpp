#include "commands/personality_phases.h"

#include <algorithm>
#include <vector>

namespace orvik {
namespace {

constexpr const char* kDynName = "DYN";
constexpr std::uint8_t kContactReadAnswered = 0x8C;
constexpr std::uint8_t kContactWriteAnswered = 0x50;
// A first answer with a larger total carries no record; a larger total ends the reading.
constexpr unsigned kMaxFirstTotal = 200;
constexpr unsigned kMaxTotal = 201;
// Answer bytes before the record: marker, sub-code, index, total.
constexpr std::size_t kContactHeader = 4;
// Byte 7 of a record is the kind of its list.
constexpr std::size_t kContactKindByte = 7;
constexpr std::size_t kMaxContacts = 255;

unsigned piecesOf(std::uint32_t size) {
  return (size + PersonalityPhases::kMemoryPiece - 1) / PersonalityPhases::kMemoryPiece;
}

}  // namespace

PersonalityPhases::PersonalityPhases(TOVR& engine, std::span<std::uint8_t> dataBuffer, Hooks hooks)
    : engine_(engine), data_(dataBuffer), hooks_(std::move(hooks)) {}

bool PersonalityPhases::insideDynBlock(const CpgBlock& dyn, std::uint64_t address,
                                       std::uint64_t size) {
  // Past 24 bits the request's address field would wrap and reach another place.
  constexpr std::uint64_t kAddressSpace = 0x1000000;
  const std::uint64_t end = address + size;
  return size != 0 && address >= dyn.startAddress &&
         end <= std::uint64_t{dyn.startAddress} + dyn.size && end <= kAddressSpace;
}

void PersonalityPhases::progress(unsigned done, unsigned total) const {
  if (hooks_.progress) {
    hooks_.progress(done, total);
  }
}

bool PersonalityPhases::backupDynBlocks(std::span<const PersonalityBlock> blocks) {
  unsigned pieces = 0;
  for (const PersonalityBlock& block : blocks) {
    if (block.blockType == kDynBlockType) {
      pieces += piecesOf(block.size);
    }
  }
  unsigned done = 0;
  for (const PersonalityBlock& block : blocks) {
    if (block.blockType != kDynBlockType) {
      continue;
    }
    // One buffer per record, so that a list with several DYN records keeps all of them.
    PersonalityBackup::Block& saved = backup_.blocks.emplace_back();
    saved.blockType = block.blockType;
    saved.address = block.address;
    saved.bytes.resize(block.size);

    std::uint32_t address = block.address;
    std::uint32_t remaining = block.size;
    while (remaining > 0) {
      const std::uint32_t asked = std::min(remaining, kMemoryPiece);
      const std::uint32_t requested = address;
      std::uint8_t opcode = 0;
      const int result = engine_.memRead(static_cast<int>(asked), address, opcode, data_);
      // Only the answer to this very read goes into the backup: another answer's bytes would
      // be restored over the owner's data as if they were it.
      if (!TOVR::memReadAnswered(static_cast<int>(asked), requested, result, opcode, address)) {
        hooks_.fail(UpdateFailure::DynRead, {kDynName});
        return false;
      }
      std::copy_n(data_.begin(), asked, saved.bytes.begin() + (block.size - remaining));
      address = requested + asked;
      remaining -= asked;
      progress(++done, pieces);
    }
  }
  return true;
}

bool PersonalityPhases::backupContacts() {
  unsigned index = 0;
  unsigned total = 0;
  unsigned progressTotal = 0;
  unsigned counted = 0;
  for (;;) {
    const std::array<std::uint8_t, 3> request{0x00, static_cast<std::uint8_t>(index),
                                              static_cast<std::uint8_t>(total)};
    std::uint8_t opcode = 0;
    const int result = engine_.contactCommand(kContactReadSubCode, request, opcode, data_);
    // The radio's own marker of a read answer; anything else is not a record to keep.
    if (result <= 0 || opcode != TOVR::kContactAnswered || data_[0] != kContactReadAnswered) {
      hooks_.fail(UpdateFailure::ContactRead, {std::to_string(index + 1)});
      return false;
    }
    const auto count = static_cast<std::size_t>(result);
    const unsigned answeredTotal = count > 3 ? data_[3] : 0;
    const bool first = index == 0;
    if (!(first && answeredTotal > kMaxFirstTotal)) {
      // A record too short for its kind byte, or of a kind with no list, could not be written
      // back: the update must not go on and lose that contact.
      const bool hasKind = count > kContactHeader + kContactKindByte;
      const std::uint8_t kind = hasKind ? data_[kContactHeader + kContactKindByte] : 0;
      if (kind < 1 || kind > backup_.contactLists.size()) {
        hooks_.fail(UpdateFailure::ContactRead, {std::to_string(index + 1)});
        return false;
      }
      backup_.contactLists[kind - 1].emplace_back(data_.begin() + kContactHeader,
                                                  data_.begin() + static_cast<long>(count));
    }
    if (first) {
      progressTotal = answeredTotal;
    }
    if (progressTotal != 0) {
      progress(++counted, progressTotal);
    }
    if (answeredTotal == 0 || answeredTotal > kMaxTotal || index + 1 >= answeredTotal) {
      return true;
    }
    ++index;
    total = answeredTotal;
  }
}

bool PersonalityPhases::restoreDynBlocks() {
  unsigned pieces = 0;
  for (const PersonalityBackup::Block& block : backup_.blocks) {
    if (block.blockType == kDynBlockType) {
      pieces += piecesOf(static_cast<std::uint32_t>(block.bytes.size()));
    }
  }
  unsigned done = 0;
  for (PersonalityBackup::Block& block : backup_.blocks) {
    if (block.blockType != kDynBlockType) {
      continue;
    }
    const auto size = static_cast<std::uint32_t>(block.bytes.size());
    std::uint32_t address = block.address;
    std::uint32_t remaining = size;
    bool written = true;
    while (remaining > 0) {
      const std::uint32_t n = std::min(remaining, kMemoryPiece);
      std::uint8_t opcode = 0;
      const int result = engine_.memWrite(std::span(block.bytes).subspan(size - remaining, n),
                                          address, opcode, data_);
      // An answer of another kind means the radio did not take the bytes.
      if (result < 0 || opcode != TOVR::kMemoryWritten) {
        hooks_.fail(UpdateFailure::DynWrite, {kDynName});
        written = false;
        break;
      }
      address += n;
      remaining -= n;
      progress(++done, pieces);
    }
    block.bytes.clear();
    block.bytes.shrink_to_fit();
    if (!written) {
      return false;
    }
  }
  return true;
}

bool PersonalityPhases::restoreContacts() {
  const std::size_t total = contactCount();
  if (total == 0) {
    return true;
  }
  if (total > kMaxContacts) {
    // Indices and the total travel as single bytes; such a list cannot be written back.
    hooks_.fail(UpdateFailure::ContactWrite, {"1"});
    return false;
  }
  bool ok = true;
  unsigned index = 1;
  unsigned written = 0;
  std::vector<std::uint8_t> request;
  for (const int kind : kRestoreOrder) {
    for (const std::vector<std::uint8_t>& record : backup_.contactLists[kind - 1]) {
      request.assign({0x00, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(total)});
      request.insert(request.end(), record.begin(), record.end());
      ++index;
      std::uint8_t opcode = 0;
      const int result = engine_.contactCommand(kContactWriteSubCode, request, opcode, data_);
      if (result <= 0 || opcode != TOVR::kContactAnswered || data_[0] != kContactWriteAnswered) {
        hooks_.fail(UpdateFailure::ContactWrite, {std::to_string(index)});
        ok = false;
        break;
      }
      progress(++written, static_cast<unsigned>(total));
    }
  }
  std::array<std::uint8_t, kContactAnswerSize> answer{};
  std::uint8_t opcode = 0;
  if (engine_.contactRestore(opcode, answer) < 0) {
    hooks_.fail(UpdateFailure::MasterResetContacts, {});
    ok = false;
  }
  return ok;
}

std::size_t PersonalityPhases::contactCount() const {
  std::size_t count = 0;
  for (const auto& list : backup_.contactLists) {
    count += list.size();
  }
  return count;
}

void PersonalityPhases::release() {
  backup_.blocks.clear();
  backup_.blocks.shrink_to_fit();
  for (auto& list : backup_.contactLists) {
    list.clear();
    list.shrink_to_fit();
  }
}

}  // namespace orvik
