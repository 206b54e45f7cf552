#include "pack/inspect.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "base/byte_reader.h"
#include "base/text.h"
#include "codeplug/cpg.h"
#include "codeplug/update_files.h"
#include "config/config.h"
#include "config/scramble.h"
#include "errors/error_text.h"
#include "pack/kxk_builder.h"
#include "pack/pack_files.h"
#include "package/flash.h"
#include "package/flash_layout.h"
#include "package/kxk_file.h"
#include "package/kxk_header.h"
#include "package/md5.h"
#include "package/minisign.h"
#include "package/signed_package.h"

namespace orvik {
namespace {

// The error text is where the readers explain a refusal; take the oldest line and start
// clean for the next file.
std::string takeErrorText() {
  std::string text = firstErrorText();
  removeErrors(ErrorCategory::OK);
  return text;
}

// The largest file a package folder holds: a container or a configuration.
constexpr std::size_t kMaxPackageFileSize = std::max(kMaxKxkFileSize, kMaxConfigFileSize);

bool isContainer(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= kKxkHeaderSize &&
         std::equal(kKxkSignature.begin(), kKxkSignature.begin() + 3, bytes.begin());
}

std::string typeText(const KxkHeaderInfo& info) {
  switch (info.type) {
    case kKxkModelBlock:
      return formatText("0 (model block: model number %u, model name \"%s\")", info.prefixNumber,
                        latin1ToUtf8(info.modelName).c_str());
    case kKxkCodeplugFile:
    case kKxkCodeplugFile2: {
      const PackVersion version{static_cast<char>(info.prefixNumber & 0xFF),
                                static_cast<std::uint8_t>(info.prefixNumber >> 8),
                                static_cast<std::uint8_t>(info.prefixNumber >> 16),
                                static_cast<std::uint8_t>(info.prefixNumber >> 24)};
      return formatText("%d (codeplug version %s)", info.type, packVersionText(version).c_str());
    }
    default:
      return formatText("3 (region \"%s\")", info.regionName.c_str());
  }
}

bool startsWithSrecord(std::span<const std::uint8_t> payload) {
  const auto first = std::find_if(payload.begin(), payload.end(), [](std::uint8_t c) {
    return c != ' ' && c != '\t' && c != '\r' && c != '\n';
  });
  return first != payload.end() && (*first == 'S' || *first == 's');
}

bool looksLikeAddressMap(std::span<const std::uint8_t> payload) {
  const std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
  return std::any_of(kCpgBlocks.begin(), kCpgBlocks.end(), [&text](const CpgBlockInfo& block) {
    return text.find(block.mapKey) != std::string_view::npos;
  });
}

// An address map of the folder, as the update would apply it.
struct AddressMap {
  std::string file;
  Cpg cpg;
};

// The image as the update would take it: the walk, then the end of the image on a radio of
// each flash layout.
bool describeImage(std::span<const std::uint8_t> payload, std::string& description) {
  Flash flash;
  if (!flash.loadImage(payload)) {
    description = "firmware image, refused by the image walk: " + takeErrorText();
    return false;
  }
  const ImageLayout& layout = flash.layout();
  description = formatText("firmware image, %u sections, %u of %zu bytes kept",
                           unsigned{layout.sectionCount}, layout.endPosition, payload.size());
  std::string refusals;
  for (int row = 0; row < kFlashLayoutCount; ++row) {
    if (!checkFirmwareImageFits(flash.imageLength(), flashLayoutRow(row))) {
      refusals += formatText("; too long for flash layout %d: %s", row, takeErrorText().c_str());
    }
  }
  description += refusals;
  return refusals.empty();
}

// The stream as the update would take it under each address map of the folder: it must
// parse and put data into the DEF block.
bool describeStream(std::span<const std::uint8_t> payload, const std::vector<AddressMap>& maps,
                    std::string& description) {
  Cpg unmapped;
  if (!unmapped.parseCodeplugStream(payload)) {
    description = "S-record stream, refused: " + takeErrorText();
    return false;
  }
  description = "S-record stream, every record and checksum good";
  if (maps.empty()) {
    description += "; REFUSED: no address map in the folder places its DEF block";
    return false;
  }
  bool valid = true;
  for (const AddressMap& map : maps) {
    Cpg cpg = map.cpg;
    if (!parseCodeplugForUpdate(payload, cpg)) {
      description += "; refused under " + map.file + ": " + takeErrorText();
      valid = false;
    }
  }
  return valid;
}

// What the payload holds, checked with the tool's own parsers and the update's own checks;
// false when it is refused.
bool describeContent(std::span<const std::uint8_t> payload, const std::vector<AddressMap>& maps,
                     std::string& description) {
  if (payload.size() >= 2 && payload[0] == (kImageMagic >> 8) &&
      payload[1] == (kImageMagic & 0xFF)) {
    return describeImage(payload, description);
  }
  if (startsWithSrecord(payload)) {
    return describeStream(payload, maps, description);
  }
  if (looksLikeAddressMap(payload)) {
    Cpg cpg;
    if (!cpg.parseAddressMap(payload)) {
      description = "address map, refused: a value is not a hexadecimal number";
      return false;
    }
    const CpgBlock& def = cpg.block(DEF);
    description =
        formatText("address map, DEF block at 0x%X, 0x%X bytes", def.startAddress, def.size);
    return true;
  }
  description = formatText("%zu bytes of data", payload.size());
  return true;
}

// The address maps of the folder that the update would take.
std::vector<AddressMap> addressMaps(
    const std::vector<std::pair<std::filesystem::path, std::vector<std::uint8_t>>>& containers) {
  std::vector<AddressMap> maps;
  for (const auto& [path, bytes] : containers) {
    KxkFile file;
    if (loadKxkFile(bytes, path.filename().string(), file) && looksLikeAddressMap(file.payload) &&
        !startsWithSrecord(file.payload)) {
      AddressMap map{path.filename().string(), Cpg()};
      if (map.cpg.parseAddressMap(file.payload)) {
        maps.push_back(std::move(map));
      }
    }
  }
  removeErrors(ErrorCategory::OK);
  return maps;
}

// One container; false when the tool would refuse it.
bool inspectContainer(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                      const std::vector<AddressMap>& maps, std::ostream& out,
                      std::map<std::string, std::vector<std::string>>& names) {
  const std::string name = path.filename().string();
  KxkHeaderInfo info;
  const bool headerOk = readKxkHeader(bytes, name, &info);
  const std::string headerError = headerOk ? std::string() : takeErrorText();

  const std::span<const std::uint8_t> all(bytes);
  ByteReader header(all.subspan(kKxkVersionOffset, 4));
  const PackVersion version{static_cast<char>(header.u8()), header.u8(), header.u8(), header.u8()};
  const Md5Digest digest = md5Digest(all.subspan(kKxkDigestedFrom));
  const bool digestGood =
      std::equal(digest.begin(), digest.end(), bytes.begin() + kKxkDigestOffset);

  out << name << "\n";
  if (headerOk) {
    out << "  internal name  " << info.internalName << "\n";
    out << "  type           " << typeText(info) << "\n";
    names[info.internalName].push_back(name);
  } else {
    out << "  header         refused by the catalogue: " << headerError << "\n";
  }
  out << "  version        " << packVersionText(version) << "\n";

  KxkFile file;
  const bool loaded = loadKxkFile(bytes, name, file);
  const std::string loadError = loaded ? std::string() : takeErrorText();
  if (loaded) {
    out << "  payload        " << file.payloadLength() << " bytes\n";
  } else if (headerOk) {
    out << "  payload        " << info.payloadLength << " bytes declared\n";
  }
  out << "  digest         " << (digestGood ? "good" : "bad") << "\n";

  bool valid = loaded && headerOk;
  if (loaded) {
    std::string content;
    const bool contentGood = describeContent(file.payload, maps, content);
    valid = contentGood && valid;
    out << "  content        " << content << "\n";
  }
  if (valid) {
    out << "  status         valid\n";
  } else if (loaded && headerOk) {
    out << "  status         REFUSED: the content is not what the update takes\n";
  } else {
    out << "  status         REFUSED: " << (loaded ? headerError : loadError) << "\n";
  }
  return valid;
}

bool showDecodedXml(const std::string& name, std::vector<std::uint8_t> bytes, std::ostream& out) {
  Scramble(bytes);
  const std::string text(bytes.begin(), bytes.end());
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != '<') {
    out << name << "\n  scrambled XML  does NOT decode to XML\n";
    return false;
  }
  out << name << "\n  scrambled XML, decoded:\n";
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    out << "    " << line << "\n";
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  out << "  status         valid\n";
  return true;
}

}  // namespace

namespace {

bool inspectFolder(const std::filesystem::path& folder, std::ostream& out) {
  std::error_code error;
  std::vector<std::filesystem::path> files;
  // Entries that cannot be told: a link in a loop, to nothing, or through a folder that may not
  // be read. Skipped and named, as the tool skips them.
  std::vector<std::pair<std::filesystem::path, std::string>> skipped;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code statError;
    const bool regular = it->is_regular_file(statError);
    std::error_code linkError;
    const bool link = it->is_symlink(linkError);
    if (link && (statError == std::errc::no_such_file_or_directory ||
                 statError == std::errc::not_a_directory)) {
      skipped.emplace_back(it->path(), "is a link to nothing");
    } else if (statError) {
      skipped.emplace_back(it->path(), "cannot be read (" + statError.message() + ")");
    } else if (regular) {
      files.push_back(it->path());
    }
  }
  if (error) {
    out << "cannot list " << folder.string() << ": " << error.message() << "\n";
    return false;
  }
  std::sort(files.begin(), files.end());
  std::sort(skipped.begin(), skipped.end());
  removeErrors(ErrorCategory::OK);

  out << "Package folder " << folder.string() << "\n\n";
  int containers = 0;
  int refused = 0;
  int otherProblems = 0;
  for (const auto& [path, why] : skipped) {
    out << path.filename().string() << "\n  skipped: " << why << "\n";
    ++otherProblems;
  }
  bool configGood = false;
  std::map<std::string, std::vector<std::string>> internalNames;
  // Every file is read first, so that each codeplug stream is checked under the folder's
  // address maps whatever the order of the names.
  std::vector<std::pair<std::filesystem::path, std::vector<std::uint8_t>>> containerFiles;
  std::vector<std::pair<std::filesystem::path, std::vector<std::uint8_t>>> otherFiles;
  for (const std::filesystem::path& path : files) {
    std::string readError;
    auto bytes = readPackFile(path, readError, kMaxPackageFileSize);
    if (!bytes) {
      out << path.filename().string() << "\n  " << readError << "\n";
      ++otherProblems;
      continue;
    }
    if (isContainer(*bytes)) {
      containerFiles.emplace_back(path, std::move(*bytes));
    } else {
      otherFiles.emplace_back(path, std::move(*bytes));
    }
  }
  const std::vector<AddressMap> maps = addressMaps(containerFiles);
  for (const auto& [path, bytes] : containerFiles) {
    ++containers;
    if (!inspectContainer(path, bytes, maps, out, internalNames)) {
      ++refused;
    }
  }
  for (auto& [path, bytes] : otherFiles) {
    const std::string name = path.filename().string();
    if (name == "config.xml" || name == "setup.dat") {
      const bool decoded = showDecodedXml(name, std::move(bytes), out);
      if (name == "config.xml") {
        configGood = decoded;
      } else if (!decoded) {
        ++otherProblems;
      }
    } else if (name == kManifestName || name == kManifestSignatureName) {
      // The signature is checked by orvik-pack verify, against a key; here it is only shown.
      const std::string text(bytes.begin(), bytes.end());
      std::string problem;
      if (name == kManifestName) {
        const auto entries = parseManifest(text, problem);
        out << name << "\n  "
            << (entries ? "SHA-256 of " + std::to_string(entries->size()) + " files"
                        : "not a file list: " + problem)
            << "\n";
      } else if (const auto signature = parseSignature(text, problem)) {
        out << name << "\n  minisign signature by key " << keyIdText(signature->id)
            << ", trusted comment: " << signature->trustedComment
            << "\n  (orvik-pack verify checks it against a key)\n";
      } else {
        out << name << "\n  not a minisign signature: " << problem << "\n";
      }
    } else {
      out << name << "\n  not a package file\n";
    }
  }

  out << "\n";
  for (const auto& [internalName, holders] : internalNames) {
    if (holders.size() > 1) {
      out << "warning: internal name " << internalName << " is in " << holders.size()
          << " files; the tool takes " << holders.back() << "\n";
    }
  }
  if (!configGood) {
    out << "config.xml is missing or does not decode\n";
  }
  // A setup file beside the package is the one each machine takes a copy of at its first start:
  // the tool must load it with this configuration, or every first start stops.
  const std::filesystem::path setup = folder / "setup.dat";
  if (configGood && std::filesystem::is_regular_file(setup, error)) {
    Config config;
    std::string problem;
    if (!CreateXmlDocument(config.xmlDocument)) {
      problem = "no XML document";
    } else if (!config.LoadConfig((folder / "config.xml").string(), setup.string())) {
      problem = takeErrorText();
    }
    if (problem.empty()) {
      out << "setup.dat loads with config.xml\n";
    } else {
      out << "setup.dat REFUSED with config.xml: " << problem << "\n";
      ++otherProblems;
    }
  }
  out << containers - refused << " of " << containers << " containers valid\n";
  removeErrors(ErrorCategory::OK);
  return configGood && refused == 0 && otherProblems == 0;
}

}  // namespace

bool inspectPackage(const std::filesystem::path& folder, std::ostream& out) {
  // The names in a folder and the texts in its files are anybody's: the listing is printed
  // escaped, so that none of them acts on the terminal.
  std::ostringstream listing;
  const bool valid = inspectFolder(folder, listing);
  out << printableLines(listing.str());
  return valid;
}

}  // namespace orvik
