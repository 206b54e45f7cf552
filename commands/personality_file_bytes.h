#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "commands/personality_file.h"

namespace orvik {

// The personality backup file as bytes, without the file system: what
// writePersonalityFile writes and readPersonalityFile reads (and what the fuzz target feeds).

inline constexpr std::size_t kPersonalityDigestSize = 16;
inline constexpr std::uint16_t kPersonalityFormatVersion = 1;
// Far above any radio's personality; a larger file is refused before it is read.
inline constexpr std::size_t kMaxPersonalityFileSize = 16 * 1024 * 1024;

// The file's bytes, or no value when the backup cannot be written so that it reads back the
// same: a text or record too long for its length field, a block type that is not a codeplug
// block, or a contact record without the kind byte of its list.
std::optional<std::vector<std::uint8_t>> encodePersonalityBackup(const PersonalityBackup& backup);

// The backup the bytes describe, or no value for anything but one whole, undamaged file of
// this format version. Adds no line to the error text.
std::optional<PersonalityBackup> decodePersonalityBackup(std::span<const std::uint8_t> bytes);

}  // namespace orvik
