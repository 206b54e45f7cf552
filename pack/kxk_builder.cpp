#include "pack/kxk_builder.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "base/text.h"
#include "base/version_record.h"
#include "package/kxk_file.h"
#include "package/md5.h"

namespace orvik {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::optional<PackVersion> parsePackVersion(const std::string& text) {
  const std::optional<VersionRecord> record = parseVersionRecord(text);
  if (!record) {
    return std::nullopt;
  }
  return PackVersion{static_cast<char>((*record)[0]), (*record)[1], (*record)[2], (*record)[3]};
}

std::string packVersionText(const PackVersion& version) {
  return formatText("%c%02d.%02d.%02d", version.letter, int{version.major}, int{version.minor},
                    int{version.patch});
}

std::uint32_t packVersionWord(const PackVersion& version) {
  return std::uint32_t{static_cast<std::uint8_t>(version.letter)} |
         std::uint32_t{version.major} << 8 | std::uint32_t{version.minor} << 16 |
         std::uint32_t{version.patch} << 24;
}

std::optional<std::vector<std::uint8_t>> buildKxkFile(const KxkContents& contents,
                                                      std::string& error) {
  if (contents.type < 0 || contents.type > kKxkRegionFile) {
    error = formatText("the type must be 0 to 3, not %d", contents.type);
    return std::nullopt;
  }
  if (contents.internalName.empty() || contents.internalName.size() > 255) {
    error = "the internal name must have 1 to 255 bytes";
    return std::nullopt;
  }
  ByteWriter prefix;
  switch (contents.type) {
    case kKxkModelBlock:
      if (contents.modelName.size() > kKxkMaxModelName) {
        error = formatText("the model name has more than %zu bytes", kKxkMaxModelName);
        return std::nullopt;
      }
      prefix.le32(contents.modelNumber)
          .u8(static_cast<std::uint8_t>(contents.modelName.size()))
          .append(bytesOf(contents.modelName));
      break;
    case kKxkCodeplugFile:
    case kKxkCodeplugFile2:
      prefix.le32(packVersionWord(contents.codeplugVersion));
      break;
    default:
      if (contents.regionName.size() > kKxkMaxRegionName) {
        error = formatText("the region name has more than %zu bytes", kKxkMaxRegionName);
        return std::nullopt;
      }
      prefix.u8(static_cast<std::uint8_t>(contents.regionName.size()))
          .append(bytesOf(contents.regionName));
      break;
  }
  const std::uint64_t payloadLength = prefix.bytes().size() + contents.body.size();
  if (payloadLength > 0xFFFFFFFFu) {
    error = "the body is too large for a container";
    return std::nullopt;
  }

  ByteWriter file;
  file.append(kKxkSignature);
  const Md5Digest placeholder{};
  file.append(placeholder);
  file.le32(packVersionWord(contents.version))
      .u8(static_cast<std::uint8_t>(contents.type))
      .be32(static_cast<std::uint32_t>(payloadLength))
      .u8(static_cast<std::uint8_t>(contents.internalName.size()))
      .append(bytesOf(contents.internalName))
      .append(prefix.bytes());
  std::vector<std::uint8_t> bytes = file.take();
  const std::size_t bodyStart = bytes.size();
  bytes.insert(bytes.end(), contents.body.begin(), contents.body.end());
  scrambleKxkBody(std::span(bytes).subspan(bodyStart));
  const Md5Digest digest = md5Digest(std::span(bytes).subspan(kKxkDigestedFrom));
  std::copy(digest.begin(), digest.end(), bytes.begin() + kKxkDigestOffset);
  return bytes;
}

}  // namespace orvik
