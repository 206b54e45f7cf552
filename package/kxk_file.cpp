#include "package/kxk_file.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "base/text.h"
#include "errors/error_text.h"
#include "package/file_bytes.h"
#include "package/md5.h"
#include "package/signed_package.h"

namespace orvik {
namespace {

void emptyFile(KxkFile& file) {
  file.payload = {};
  file.versionText.clear();
  file.internalName.clear();
  file.type = 0;
  file.versionWord = 0;
  file.modelNumber = 0;
  file.modelName.clear();
  file.regionName.clear();
}

bool refuse(KxkFile& file, const char* format, const std::string& name) {
  appendError(ErrorCategory::KXK, format, name.c_str());
  emptyFile(file);
  return false;
}

// Works on the whole file, which the caller has put into file.payload; leaves the body there.
bool decodeKxk(KxkFile& file, const std::string& name) {
  std::vector<std::uint8_t>& buffer = file.payload;
  const std::size_t size = buffer.size();
  constexpr const char* kInvalid = "Error:invalid file [%s].";

  if (size < kKxkHeaderSize) {
    return refuse(file, kInvalid, name);
  }
  const std::span<const std::uint8_t> all(buffer);
  if (!std::equal(kKxkSignature.begin(), kKxkSignature.end(), buffer.begin())) {
    return refuse(file, "Error:invalid signature for file [%s].", name);
  }
  const Md5Digest digest = md5Digest(all.subspan(kKxkDigestedFrom, size - kKxkDigestedFrom));
  if (!std::equal(digest.begin(), digest.end(), buffer.begin() + kKxkDigestOffset)) {
    return refuse(file, kInvalid, name);
  }

  ByteReader header(all.subspan(kKxkVersionOffset, kKxkHeaderSize - kKxkVersionOffset));
  const std::uint8_t letter = header.u8();
  const std::uint8_t major = header.u8();
  const std::uint8_t minor = header.u8();
  header.skip(1);
  const std::uint8_t type = header.u8();
  const std::uint32_t declaredLength = header.be32();
  const std::uint8_t nameLength = header.u8();
  // The name must lie inside the file, whatever the payload length claims.
  if (size < kKxkHeaderSize + nameLength) {
    return refuse(file, kInvalid, name);
  }

  file.type = type;
  file.versionText =
      latin1ToUtf8(std::span(&letter, 1)) + formatText("%02d.%02d", int{major}, int{minor});
  file.versionWord = ByteReader(all.subspan(kKxkVersionOffset, 4)).le32();
  file.internalName = latin1ToUtf8(all.subspan(kKxkHeaderSize, nameLength));
  file.modelNumber = 0;
  file.modelName.clear();
  file.regionName.clear();

  // The header and name are known to fit, so this cannot wrap.
  const std::uint64_t available = std::uint64_t{size} - kKxkHeaderSize - nameLength;
  if (declaredLength > available) {
    return refuse(file, kInvalid, name);
  }
  const std::size_t payloadStart = kKxkHeaderSize + nameLength;
  ByteReader prefix(all.subspan(payloadStart, declaredLength));

  // The prefix must fit inside the declared payload; a shorter payload would leave a
  // negative body length.
  switch (type) {
    case kKxkModelBlock: {
      const std::uint32_t modelNumber = prefix.le32();
      const std::uint8_t modelLength = prefix.u8();
      if (!prefix.ok()) {
        return refuse(file, kInvalid, name);
      }
      if (modelLength > kKxkMaxModelName) {
        return refuse(file, "Error:the model name is tool long for [%s].", name);
      }
      const auto modelBytes = prefix.bytes(modelLength);
      if (!prefix.ok()) {
        return refuse(file, kInvalid, name);
      }
      file.modelNumber = modelNumber;
      file.modelName.assign(modelBytes.begin(), modelBytes.end());
      break;
    }
    case kKxkCodeplugFile:
    case kKxkCodeplugFile2: {
      const std::uint32_t codeplugVersion = prefix.le32();
      if (!prefix.ok()) {
        return refuse(file, kInvalid, name);
      }
      file.versionWord = codeplugVersion;
      break;
    }
    case kKxkRegionFile: {
      const std::uint8_t regionLength = prefix.u8();
      if (!prefix.ok()) {
        return refuse(file, kInvalid, name);
      }
      if (regionLength > kKxkMaxRegionName) {
        return refuse(file, "Error:the region name is too long for [%s].", name);
      }
      const auto regionBytes = prefix.bytes(regionLength);
      if (!prefix.ok()) {
        return refuse(file, kInvalid, name);
      }
      file.regionName = latin1ToUtf8(regionBytes);
      break;
    }
    default:  // other types carry no prefix
      break;
  }

  const std::size_t bodyStart = payloadStart + prefix.position();
  const std::size_t bodyLength = declaredLength - prefix.position();
  std::memmove(buffer.data(), buffer.data() + bodyStart, bodyLength);
  buffer.resize(bodyLength);
  scrambleKxkBody(buffer);
  return true;
}

}  // namespace

void scrambleKxkBody(std::span<std::uint8_t> body) {
  // 48 bytes hold the three-byte key a whole number of times, so each block starts at key
  // byte 0 and the fixed-size inner loop vectorises.
  constexpr std::size_t kBlock = 48;
  std::array<std::uint8_t, kBlock> pattern{};
  for (std::size_t i = 0; i < kBlock; ++i) {
    pattern[i] = kKxkSignature[i % 3];
  }
  std::size_t i = 0;
  for (; i + kBlock <= body.size(); i += kBlock) {
    std::uint8_t* block = body.data() + i;
    for (std::size_t j = 0; j < kBlock; ++j) {
      block[j] ^= pattern[j];
    }
  }
  for (std::size_t j = 0; i < body.size(); ++i, ++j) {
    body[i] ^= pattern[j];
  }
}

bool loadKxkFile(const std::filesystem::path& path, KxkFile& file) {
  if (path.empty()) {
    return false;
  }
  const std::string name = path.string();
  // A verified package's file is taken as it was read and hashed, never read again.
  std::span<const std::uint8_t> held;
  switch (heldPackageFile(path, held)) {
    case HeldFile::Found:
      return loadKxkFile(held, name, file);
    case HeldFile::NotListed:
      return refuse(file, "Error:the file [%s] is not listed in the signed package's SHA256SUMS.",
                    name);
    case HeldFile::NotHeld:
      break;
  }
  switch (readWholeFile(path, file.payload, kMaxKxkFileSize)) {
    case FileReadResult::OpenFailed:
      appendError(ErrorCategory::FILE, "Error:failed to open file [%s].", name.c_str());
      emptyFile(file);
      return false;
    case FileReadResult::ReadFailed:
      appendError(ErrorCategory::FILE, "Error:failed to read file [%s].", name.c_str());
      emptyFile(file);
      return false;
    case FileReadResult::TooLarge:
      return refuse(file, "Error:the file [%s] is too large for a package file.", name);
    case FileReadResult::Ok:
      break;
  }
  return decodeKxk(file, name);
}

bool loadKxkFile(std::span<const std::uint8_t> bytes, const std::string& displayName,
                 KxkFile& file) {
  if (bytes.size() > kMaxKxkFileSize) {
    return refuse(file, "Error:the file [%s] is too large for a package file.", displayName);
  }
  file.payload.assign(bytes.begin(), bytes.end());
  return decodeKxk(file, displayName);
}

}  // namespace orvik
