#include "package/kxk_header.h"

#include <algorithm>
#include <vector>

#include "base/byte_reader.h"
#include "base/text.h"
#include "errors/error_text.h"
#include "package/file_bytes.h"
#include "package/kxk_file.h"
#include "package/signed_package.h"

namespace orvik {
namespace {

bool refuse(const char* format, const std::string& name) {
  appendError(ErrorCategory::KXK, format, name.c_str());
  return false;
}

}  // namespace

bool readKxkHeader(std::span<const std::uint8_t> bytes, const std::string& displayName,
                   KxkHeaderInfo* info) {
  const std::string& name = displayName;
  ByteReader reader(bytes);
  const auto fixed = reader.bytes(kKxkHeaderSize);
  if (!reader.ok()) {
    return refuse("Error:failed to read KXK header for file [%s].", name);
  }
  if (info == nullptr) {
    return true;
  }
  if (!std::equal(kKxkSignature.begin(), kKxkSignature.end(), fixed.begin())) {
    return refuse("Error:invalid signature for file [%s].", name);
  }
  *info = KxkHeaderInfo{};
  ByteReader header(fixed.subspan(kKxkTypeOffset));
  const std::uint8_t type = header.u8();
  const std::uint32_t declaredLength = header.be32();
  const std::uint8_t nameLength = header.u8();
  info->type = type;
  if (type > kKxkRegionFile) {
    return refuse("Error:invalid KXK type for file [%s].", name);
  }

  const auto nameBytes = reader.bytes(nameLength);
  if (!reader.ok()) {
    return refuse("Error:failed to read internal name for file [%s].", name);
  }
  info->internalNameLength = nameLength;
  info->internalName = latin1ToUtf8(nameBytes);

  // How many payload bytes the prefix takes; a payload shorter than that would make the
  // remaining length wrap into a huge number, so such a header is refused.
  std::uint64_t prefixLength = 0;
  if (type == kKxkModelBlock) {
    info->prefixNumber = reader.le32();
    const std::uint8_t modelLength = reader.u8();
    if (!reader.ok()) {
      return refuse("Error:faild to retrival codeplug version for [%s].", name);
    }
    const auto modelBytes = reader.bytes(modelLength);
    if (!reader.ok()) {
      return refuse("Error:failed to retrival model number for [%s].", name);
    }
    const std::size_t kept = std::min<std::size_t>(modelLength, kKxkHeaderModelName);
    info->modelNameLength = static_cast<std::uint8_t>(kept);
    info->modelName.assign(modelBytes.begin(), modelBytes.begin() + kept);
    prefixLength = 5u + modelLength;
  } else if (type == kKxkCodeplugFile || type == kKxkCodeplugFile2) {
    info->prefixNumber = reader.le32();
    if (!reader.ok()) {
      return refuse("Error:faild to retreval codeplug version for [%s].", name);
    }
    prefixLength = 4;
  } else {
    const std::uint8_t regionLength = reader.u8();
    if (!reader.ok()) {
      return refuse("Error:faild to retreval codeplug version for [%s].", name);
    }
    const auto regionBytes = reader.bytes(regionLength);
    if (!reader.ok()) {
      return refuse("Error:failed to retrival model number for [%s].", name);
    }
    info->regionName =
        latin1ToUtf8(regionBytes.first(std::min<std::size_t>(regionLength, kKxkMaxRegionName)));
    prefixLength = 1u + regionLength;
  }
  if (declaredLength < prefixLength) {
    return refuse("Error:invalid file [%s].", name);
  }
  info->payloadLength = static_cast<std::uint32_t>(declaredLength - prefixLength);
  return true;
}

bool readKxkHeader(const std::filesystem::path& path, KxkHeaderInfo* info) {
  if (path.empty()) {
    return false;
  }
  const std::string name = path.string();
  std::span<const std::uint8_t> held;
  switch (heldPackageFile(path, held)) {
    case HeldFile::Found:
      return readKxkHeader(held.first(std::min(held.size(), kKxkMaxHeaderBytes)), name, info);
    case HeldFile::NotListed:
      appendError(ErrorCategory::KXK,
                  "Error:the file [%s] is not listed in the signed package's SHA256SUMS.",
                  name.c_str());
      return false;
    case HeldFile::NotHeld:
      break;
  }
  std::vector<std::uint8_t> bytes;
  if (readFileStart(path, kKxkMaxHeaderBytes, bytes) == FileReadResult::OpenFailed) {
    appendError(ErrorCategory::FILE, "Error:failed to open the file [%s].", name.c_str());
    return false;
  }
  // A read error leaves fewer bytes than the header needs, which the parser reports.
  return readKxkHeader(bytes, name, info);
}

}  // namespace orvik
