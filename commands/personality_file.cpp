// The personality backup file ("<serial>_<YYYYMMDD-HHMMSS>.orvp"), big-endian throughout:
//
//   4   magic "ORVP"
//   2   format version (1)
//   2+n model text
//   2+n serial number text
//   4   firmware version record
//   4   codeplug version record
//   2   number of blocks, then per block:
//         1 block type (codeplug block index 0 to 8), 4 address, 4 size n, n bytes
//   4 × (one per contact list kind 1 to 4):
//         2 number of records, then per record: 2 length n, n bytes (byte 7 is the kind)
//   16  MD5 of everything before it
//
// The file is read whole and must end exactly after the digest, so there is one way to write
// each backup and a reader can tell a damaged or cut-off file from a good one.

#include <algorithm>
#include <ctime>
#include <string_view>
#include <system_error>

#include "base/byte_reader.h"
#include "base/file_replace.h"
#include "base/text.h"
#include "codeplug/cpg.h"
#include "commands/personality_file.h"
#include "commands/personality_file_bytes.h"
#include "errors/error_text.h"
#include "package/file_bytes.h"
#include "package/md5.h"

namespace orvik {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {'O', 'R', 'V', 'P'};
constexpr std::size_t kMaxText = 255;
constexpr std::size_t kMaxRecord = 0xFFFF;
constexpr std::size_t kMaxCount = 0xFFFF;
// Byte 7 of a contact record tells its list kind.
constexpr std::size_t kContactKindByte = 7;
// Names stay well below the file system's 255 bytes, with room for the time stamp.
constexpr std::size_t kMaxTextInName = 96;
// A radio's backups of one second beyond this many mean something is wrong, not a busy day.
constexpr int kMaxNameSuffix = 1000;

bool validBlockType(std::int32_t type) {
  return type >= 0 && type < kCpgBlockCount;
}

bool validContact(std::span<const std::uint8_t> record, std::size_t listIndex) {
  return record.size() > kContactKindByte && record.size() <= kMaxRecord &&
         record[kContactKindByte] == listIndex + 1;
}

std::span<const std::uint8_t> textBytes(const std::string& text) {
  return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::optional<std::string> readText(ByteReader& reader) {
  const std::size_t length = reader.be16();
  if (!reader.ok() || length > kMaxText) {
    return std::nullopt;
  }
  const auto bytes = reader.bytes(length);
  if (!reader.ok()) {
    return std::nullopt;
  }
  return std::string(bytes.begin(), bytes.end());
}

// The file is created with the folder when needed; the reason of a failure goes to error.
CreateFileResult createBackupFile(const std::filesystem::path& path,
                                  std::span<const std::uint8_t> bytes, std::string& error) {
  std::error_code folderError;
  if (!path.parent_path().empty()) {
    std::filesystem::create_directories(path.parent_path(), folderError);
    if (folderError) {
      error = folderError.message();
      return CreateFileResult::Failed;
    }
  }
  // A new file is readable by its owner only, which suits the owner's contacts.
  int code = 0;
  const CreateFileResult result = createFileWithContents(path, bytes, code);
  if (result != CreateFileResult::Created) {
    error = std::generic_category().message(code);
  }
  return result;
}

// A backup that cannot be saved stops an update before anything is erased; the line says why,
// and is not a package file's problem.
void appendWriteFailure(const std::filesystem::path& path, const std::string& reason) {
  appendError(ErrorCategory::UPDATE, "Error:failed to write personality backup file [%s] (%s).",
              path.c_str(), reason.c_str());
}

}  // namespace

std::string fileNameFromRadioText(const std::string& text) {
  // Text from the radio: letters, digits and '-' stay as they are, so that a plain serial
  // number keeps the name it always had; every other byte, '%' included, becomes %XX. No two
  // texts share a name, and none can leave the folder or hide the file ('.' is %2E).
  std::string name;
  for (const char c : text) {
    const bool plain =
        (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
    if (plain) {
      name += c;
    } else {
      name += formatText("%%%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
    }
  }
  if (name.size() > kMaxTextInName) {
    // A long name keeps its readable start and ends with a digest of the whole text; '~'
    // never appears in a name otherwise.
    const Md5Digest digest = md5Digest(textBytes(text));
    name.resize(kMaxTextInName - 1 - 2 * digest.size());
    name += '~';
    for (const std::uint8_t b : digest) {
      name += formatText("%02x", b);
    }
  }
  return name;
}

namespace {

// What tells apart radios without a serial number: a digest of their personality.
std::string contentTag(const PersonalityBackup& backup) {
  ByteWriter w;
  for (const PersonalityBackup::Block& block : backup.blocks) {
    w.be32(block.address).be32(static_cast<std::uint32_t>(block.bytes.size())).append(block.bytes);
  }
  for (const auto& list : backup.contactLists) {
    for (const auto& record : list) {
      w.be16(static_cast<std::uint16_t>(record.size())).append(record);
    }
  }
  const Md5Digest digest = md5Digest(w.bytes());
  std::string tag;
  for (std::size_t i = 0; i < 4; ++i) {
    tag += formatText("%02x", digest[i]);
  }
  return tag;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodePersonalityBackup(const PersonalityBackup& backup) {
  if (backup.model.size() > kMaxText || backup.serial.size() > kMaxText ||
      backup.blocks.size() > kMaxCount) {
    return std::nullopt;
  }
  ByteWriter w;
  w.append(kMagic).be16(kPersonalityFormatVersion);
  w.be16(static_cast<std::uint16_t>(backup.model.size())).append(textBytes(backup.model));
  w.be16(static_cast<std::uint16_t>(backup.serial.size())).append(textBytes(backup.serial));
  w.append(backup.firmwareVersion).append(backup.codeplugVersion);
  w.be16(static_cast<std::uint16_t>(backup.blocks.size()));
  for (const PersonalityBackup::Block& block : backup.blocks) {
    if (!validBlockType(block.blockType) || block.bytes.size() > kMaxPersonalityFileSize) {
      return std::nullopt;
    }
    w.u8(static_cast<std::uint8_t>(block.blockType)).be32(block.address);
    w.be32(static_cast<std::uint32_t>(block.bytes.size())).append(block.bytes);
  }
  for (std::size_t list = 0; list < backup.contactLists.size(); ++list) {
    const auto& records = backup.contactLists[list];
    if (records.size() > kMaxCount) {
      return std::nullopt;
    }
    w.be16(static_cast<std::uint16_t>(records.size()));
    for (const auto& record : records) {
      if (!validContact(record, list)) {
        return std::nullopt;
      }
      w.be16(static_cast<std::uint16_t>(record.size())).append(record);
    }
  }
  if (w.bytes().size() + kPersonalityDigestSize > kMaxPersonalityFileSize) {
    return std::nullopt;
  }
  const Md5Digest digest = md5Digest(w.bytes());
  w.append(digest);
  return w.take();
}

std::optional<PersonalityBackup> decodePersonalityBackup(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kMagic.size() + 2 + kPersonalityDigestSize ||
      bytes.size() > kMaxPersonalityFileSize) {
    return std::nullopt;
  }
  const auto body = bytes.first(bytes.size() - kPersonalityDigestSize);
  const Md5Digest digest = md5Digest(body);
  if (!std::equal(digest.begin(), digest.end(), bytes.begin() + body.size())) {
    return std::nullopt;
  }

  ByteReader r(body);
  const auto magic = r.bytes(kMagic.size());
  if (!r.ok() || !std::equal(magic.begin(), magic.end(), kMagic.begin()) ||
      r.be16() != kPersonalityFormatVersion) {
    return std::nullopt;
  }
  PersonalityBackup backup;
  std::optional<std::string> model = readText(r);
  std::optional<std::string> serial = readText(r);
  if (!model || !serial) {
    return std::nullopt;
  }
  backup.model = std::move(*model);
  backup.serial = std::move(*serial);
  const auto firmware = r.bytes(4);
  const auto codeplug = r.bytes(4);
  if (!r.ok()) {
    return std::nullopt;
  }
  std::copy(firmware.begin(), firmware.end(), backup.firmwareVersion.begin());
  std::copy(codeplug.begin(), codeplug.end(), backup.codeplugVersion.begin());

  // Every count and length is checked against the bytes left before anything is allocated.
  const std::size_t blockCount = r.be16();
  for (std::size_t i = 0; i < blockCount && r.ok(); ++i) {
    PersonalityBackup::Block block;
    block.blockType = r.u8();
    block.address = r.be32();
    const std::size_t size = r.be32();
    const auto data = r.bytes(size);
    if (!r.ok() || !validBlockType(block.blockType)) {
      return std::nullopt;
    }
    block.bytes.assign(data.begin(), data.end());
    backup.blocks.push_back(std::move(block));
  }
  for (std::size_t list = 0; list < backup.contactLists.size() && r.ok(); ++list) {
    const std::size_t count = r.be16();
    for (std::size_t i = 0; i < count && r.ok(); ++i) {
      const std::size_t length = r.be16();
      const auto record = r.bytes(length);
      if (!r.ok() || !validContact(record, list)) {
        return std::nullopt;
      }
      backup.contactLists[list].emplace_back(record.begin(), record.end());
    }
  }
  if (!r.ok() || r.remaining() != 0) {
    return std::nullopt;
  }
  return backup;
}

std::filesystem::path personalityBackupPath(const std::filesystem::path& folder,
                                            const PersonalityBackup& backup,
                                            std::chrono::system_clock::time_point when) {
  std::string name = fileNameFromRadioText(backup.serial);
  if (name.empty()) {
    // '~' first: no serial number's name begins with it.
    const std::string model = fileNameFromRadioText(backup.model);
    name = "~" + (model.empty() ? std::string("unknown") : model) + "-" + contentTag(backup);
  }
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  char stamp[32] = "00000000-000000";
  if (::localtime_r(&seconds, &local) != nullptr) {
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  }
  return folder / (name + "_" + stamp + ".orvp");
}

bool writePersonalityFile(const std::filesystem::path& path, const PersonalityBackup& backup) {
  const std::optional<std::vector<std::uint8_t>> bytes = encodePersonalityBackup(backup);
  if (!bytes) {
    appendWriteFailure(path, "the backup cannot be written in the file's format");
    return false;
  }
  std::string reason;
  if (createBackupFile(path, *bytes, reason) != CreateFileResult::Created) {
    appendWriteFailure(path, reason);
    return false;
  }
  return true;
}

std::optional<std::filesystem::path> savePersonalityBackup(
    const std::filesystem::path& folder, const PersonalityBackup& backup,
    std::chrono::system_clock::time_point when, std::string& reason) {
  const std::filesystem::path first = personalityBackupPath(folder, backup, when);
  const std::optional<std::vector<std::uint8_t>> bytes = encodePersonalityBackup(backup);
  if (!bytes) {
    reason = "the backup cannot be written in the file's format";
    appendWriteFailure(first, reason);
    return std::nullopt;
  }
  std::filesystem::path path = first;
  for (int n = 2; n <= kMaxNameSuffix; ++n) {
    switch (createBackupFile(path, *bytes, reason)) {
      case CreateFileResult::Created:
        reason.clear();  // a name taken on the way is no reason to report
        return path;
      case CreateFileResult::Failed:
        appendWriteFailure(path, reason);
        return std::nullopt;
      case CreateFileResult::Exists:
        break;
    }
    path = first.parent_path() /
           (first.stem().string() + "-" + std::to_string(n) + first.extension().string());
  }
  reason = "every name for it is taken";
  appendWriteFailure(first, reason);
  return std::nullopt;
}

std::optional<PersonalityBackup> readPersonalityFile(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  std::vector<std::uint8_t> bytes;
  // A file too large to be a backup is refused before it is read into memory.
  const bool tooLarge = !error && size > kMaxPersonalityFileSize;
  if (!tooLarge &&
      (error || readWholeFile(path, bytes, kMaxPersonalityFileSize) != FileReadResult::Ok)) {
    appendError(ErrorCategory::FILE, "Error:failed to read personality backup file [%s].",
                path.c_str());
    return std::nullopt;
  }
  std::optional<PersonalityBackup> backup;
  if (!tooLarge) {
    backup = decodePersonalityBackup(bytes);
  }
  if (!backup) {
    appendError(ErrorCategory::FILE, "Error:invalid personality backup file [%s].", path.c_str());
  }
  return backup;
}

}  // namespace orvik
