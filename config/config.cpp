#include "config/config.h"

#include <exception>

#include "config/scramble.h"
#include "errors/error_text.h"
#include "package/file_bytes.h"
#include "package/signed_package.h"

namespace orvik {
namespace {

std::size_t utf8Length(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) {
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  }
  return count;
}

// The check failed: its line goes into the error text and the load stops.
bool stop(const char* message) {
  appendError(ErrorCategory::INI, "%s", message);
  return false;
}

// The full path of the container with the internal name, or nothing.
std::optional<std::string> resolve(const PackageCatalogue& catalogue, const std::string& name) {
  std::string path;
  if (!findByInternalName(catalogue, name, path)) {
    return std::nullopt;
  }
  return path;
}

// Next entry of an ordered map after the key given last, or the first when none was.
template <typename Map, typename Key>
typename Map::const_iterator nextAfter(const Map& map, const std::optional<Key>& last) {
  return last ? map.upper_bound(*last) : map.begin();
}

template <typename Map, typename Key>
bool nextKey(const Map& map, std::optional<Key>& cursor, Key& out) {
  const auto next = nextAfter(map, cursor);
  if (next == map.end()) {
    cursor.reset();
    return false;
  }
  out = next->first;
  cursor = next->first;
  return true;
}

}  // namespace

XmlDocument& Config::document() const {
  if (!xmlDocument) {
    throw XmlError{kXmlNoObject};
  }
  return *xmlDocument;
}

// A signed package's configuration is read whole at the check, so it must fit its bound too.
static_assert(kMaxConfigFileSize <= kMaxSignedFileSize);

bool Config::ReadScrambledFile(const std::string& path) {
  if (path.empty() || utf8Length(path) > kMaxConfigPathChars) {
    return false;
  }
  loadedPath = path;
  // The configuration of a verified package is the one that was read and hashed.
  std::span<const std::uint8_t> held;
  switch (heldPackageFile(path, held)) {
    case HeldFile::Found:
      return takeScrambledBytes(path, held);
    case HeldFile::NotListed:
      appendError(ErrorCategory::INI,
                  "Error:the file [%s] is not listed in the signed package's SHA256SUMS.",
                  path.c_str());
      return false;
    case HeldFile::NotHeld:
      break;
  }
  std::vector<std::uint8_t> bytes;
  const FileReadResult result = path.size() > kMaxConfigPathBytes
                                    ? FileReadResult::OpenFailed
                                    : readWholeFile(path, bytes, kMaxConfigFileSize);
  if (result == FileReadResult::OpenFailed) {
    appendError(ErrorCategory::FILE, "Error:failed to open the specified file [%s].", path.c_str());
    return false;
  }
  if (result != FileReadResult::Ok) {
    appendError(ErrorCategory::FILE, "Error:invalid config file.");
    return false;
  }
  return takeScrambledBytes(path, bytes);
}

bool Config::takeScrambledBytes(const std::string& name, std::span<const std::uint8_t> bytes) {
  if (name.empty() || utf8Length(name) > kMaxConfigPathChars) {
    return false;
  }
  loadedPath = name;
  if (bytes.empty()) {
    return false;
  }
  xmlText.assign(bytes.begin(), bytes.end());
  Scramble(xmlText);
  return true;
}

bool Config::LoadConfig(const std::string& configPath, const std::string& setupPath) {
  if (!loadConfigFile(ReadScrambledFile(configPath), configPath, nullptr)) {
    return false;
  }
  return loadSetupFile(ReadScrambledFile(setupPath), setupPath);
}

bool Config::LoadConfigFromBytes(std::span<const std::uint8_t> scrambledConfig,
                                 const std::string& configName, const PackageCatalogue& catalogue,
                                 std::span<const std::uint8_t> scrambledSetup,
                                 const std::string& setupName) {
  if (!loadConfigFile(takeScrambledBytes(configName, scrambledConfig), configName, &catalogue)) {
    return false;
  }
  return loadSetupFile(takeScrambledBytes(setupName, scrambledSetup), setupName);
}

// The configuration phase. Whatever the document raises on the way (an absent attribute, a
// number that is none, no root element) ends it as a whole with one line.
bool Config::loadConfigFile(bool read, const std::string& path, const PackageCatalogue* catalogue) {
  configPath = path;
  try {
    if (!read || !document().loadXML(xmlTextView())) {
      appendError(ErrorCategory::INI, "The initial file [%s] is invalid.", path.c_str());
      return false;
    }
    if (catalogue != nullptr) {
      return readConfigDocument(*catalogue);
    }
    // Every container in the configuration file's folder, by its internal name.
    PackageCatalogue scanned;
    scanPackage(path + "/../*.*", scanned);
    return readConfigDocument(scanned);
  } catch (const XmlError&) {
  } catch (const std::exception&) {
  }
  appendError(ErrorCategory::INI, "Failed to load config file [%s].", path.c_str());
  return false;
}

bool Config::readConfigDocument(const PackageCatalogue& catalogue) {
  const XmlElement root = document().documentElement();
  regionId = root.getAttribute("id");
  if (regionId.empty()) {
    return stop("The Region ID is empty.");
  }
  regionName = root.getAttribute("name");
  if (regionName.empty()) {
    return stop("The Region name is empty.");
  }

  // The name is resolved before the version is looked at.
  const XmlNodeList firmware = root.getElementsByTagName("fi");
  if (firmware.length() > 0) {
    const XmlElement fi = firmware.item(0);
    const auto path = resolve(catalogue, fi.getAttribute("name"));
    if (!path) {
      return stop("The FW file is lost.");
    }
    firmwareFile = *path;
    firmwareVersion = fi.getAttribute("ver");
    if (firmwareVersion.empty()) {
      return stop("The FW version is empty.");
    }
  }

  // The keypad file has a fixed place; its name here is required but means nothing.
  const XmlNodeList keypad = root.getElementsByTagName("kp");
  if (keypad.length() > 0) {
    const XmlElement kp = keypad.item(0);
    kp.getAttribute("name");
    keypadVersion = kp.getAttribute("ver");
    if (keypadVersion.empty()) {
      return stop("The KP version is empty.");
    }
  }

  const XmlNodeList maps = root.getElementsByTagName("ad");
  for (std::size_t i = 0; i < maps.length(); ++i) {
    const XmlElement ad = maps.item(i);
    const std::string version = ad.getAttribute("ver");
    if (version.empty()) {
      return stop("The ADDR version is empty.");
    }
    std::string& stored = addressFiles[version];
    stored.clear();
    const auto path = resolve(catalogue, ad.getAttribute("name") + version);
    if (!path) {
      return stop("Address file is lost.");
    }
    stored = *path;
  }

  const XmlNodeList backups = root.getElementsByTagName("bu");
  if (backups.length() > 0) {
    const XmlNodeList blocks = backups.item(0).getElementsByTagName("bl");
    for (std::size_t i = 0; i < blocks.length(); ++i) {
      const XmlElement bl = blocks.item(i);
      const std::int32_t type = backupBlockType(bl.getAttribute("name"));
      if (type < 0) {
        continue;
      }
      BackupRule rule;
      rule.fromVersions = parseVersionSet(bl.getAttribute("from"));
      rule.toVersions = parseVersionSet(bl.getAttribute("to"));
      rule.address = parseHexNumber(bl.getAttribute("addr"));
      rule.length = parseHexNumber(bl.getAttribute("len"));
      backupRules[type].push_back(std::move(rule));
    }
  }

  const XmlNodeList modelList = root.getElementsByTagName("mo");
  for (std::size_t i = 0; i < modelList.length(); ++i) {
    const XmlElement mo = modelList.item(i);
    ModelInfo model;
    model.type = mo.getAttribute("type");
    if (model.type.empty()) {
      return stop("Block type is empty.");
    }
    model.alias = mo.getAttribute("alias");
    if (model.alias.empty()) {
      return stop("Block alias is empty.");
    }
    const std::int32_t image = mo.getIntegerAttribute("img");
    model.image = image >= 0 && image <= 2 ? image : -1;
    const std::string name = mo.getAttribute("name");
    if (name.empty()) {
      return stop("Model name is empty.");
    }
    const XmlNodeList blocks = mo.getElementsByTagName("bl");
    for (std::size_t j = 0; j < blocks.length(); ++j) {
      const XmlElement bl = blocks.item(j);
      const std::string blockName = bl.getAttribute("name");
      if (blockName.empty()) {
        return stop("Block name is empty.");
      }
      const std::string blockVersion = bl.getAttribute("ver");
      if (blockVersion.empty()) {
        return stop("Block version is empty.");
      }
      const auto path = resolve(catalogue, name + blockName + blockVersion);
      if (!path) {
        appendError(ErrorCategory::INI, "Block %s file is lost.", name.c_str());
        return false;
      }
      model.blocks[blockName][blockVersion] = *path;
    }
    models[name] = std::move(model);
  }
  return true;
}

bool Config::HasModel(const std::string& name) const {
  return models.contains(name);
}

bool Config::GetModel(const std::string& name, ModelInfo& model) const {
  const auto found = models.find(name);
  if (found == models.end() || found->second.type.empty()) {
    return false;
  }
  model = found->second;
  return true;
}

bool Config::GetAddressFile(const std::string& version, std::string& path) const {
  const auto found = addressFiles.find(version);
  path = found == addressFiles.end() ? std::string() : found->second;
  return !path.empty();
}

bool Config::GetBlockFile(const std::string& modelName, const std::string& blockName,
                          const std::string& blockVersion, std::string& path) const {
  path.clear();
  const auto model = models.find(modelName);
  if (model == models.end()) {
    return false;
  }
  const auto block = model->second.blocks.find(blockName);
  if (block == model->second.blocks.end()) {
    return false;
  }
  const auto version = block->second.find(blockVersion);
  if (version != block->second.end()) {
    path = version->second;
  }
  return !path.empty();
}

bool Config::GetBackupBlock(std::uint32_t type, std::uint8_t radioVersion, std::uint8_t toolVersion,
                            std::int32_t& address, std::int32_t& length) const {
  address = 0;
  length = 0;
  if (type > 8) {
    return false;
  }
  const auto rules = backupRules.find(static_cast<std::int32_t>(type));
  if (rules == backupRules.end()) {
    return false;
  }
  for (const BackupRule& rule : rules->second) {
    if (rule.appliesTo(radioVersion, toolVersion)) {
      address = rule.address;
      length = rule.length;
      return true;
    }
  }
  return false;
}

bool Config::NextModelName(std::string& name) {
  return nextKey(models, modelCursor_, name);
}

bool Config::NextAddressVersion(std::string& version) {
  return nextKey(addressFiles, addressCursor_, version);
}

bool Config::NextBackupType(std::int32_t& type) {
  return nextKey(backupRules, backupCursor_, type);
}

bool Config::NextLanguage(std::string& language) {
  if (languageCursor_ >= languages.size()) {
    languageCursor_ = 0;
    return false;
  }
  language = languages[languageCursor_++];
  return true;
}

bool Config::NextBlockVersion(std::string& version, const std::string& modelName,
                              const std::string& blockName) {
  version.clear();
  BlockCursor& cursor = blockCursor_;
  if (cursor.restart) {
    cursor.model = modelName;
    cursor.block = blockName;
    cursor.lastVersion.reset();
  }
  // Looked up on every call, so a pass never holds on to a map entry.
  const auto model = models.find(cursor.model);
  if (model != models.end()) {
    const auto block = model->second.blocks.find(cursor.block);
    if (block != model->second.blocks.end()) {
      const auto next = nextAfter(block->second, cursor.lastVersion);
      if (next != block->second.end()) {
        cursor.restart = false;
        cursor.lastVersion = next->first;
        version = next->first;
        return !version.empty();
      }
    }
  }
  cursor.restart = true;
  return false;
}

}  // namespace orvik
