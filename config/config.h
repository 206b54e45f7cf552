#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/backup_rule.h"
#include "config/xml_document.h"
#include "package/package_catalogue.h"

namespace orvik {

// One radio model the package supports.
struct ModelInfo {
  std::string type;
  std::string alias;
  // Picture selector: 0, 1 or 2, and -1 for any other number in the file.
  std::int32_t image = 0;
  // Block name -> (block version -> full path of the block file).
  std::map<std::string, std::map<std::string, std::string>> blocks;
};

// The longest path the files are read from, in characters; a longer one is refused without a
// message. Its bytes are limited the same, and a path of more bytes cannot be opened.
inline constexpr std::size_t kMaxConfigPathChars = 511;
inline constexpr std::size_t kMaxConfigPathBytes = 511;
// The largest configuration or setup file that is read; a larger one is refused unread.
inline constexpr std::size_t kMaxConfigFileSize = 4 * 1024 * 1024;

// The configuration of the update package and the machine's setup file, filled once at
// start-up by LoadConfig and read afterwards. Only one thread uses it, so nothing is locked;
// each cursor query serves one caller's pass at a time.
//
// Texts are UTF-8 and compared byte by byte; bytes that are not UTF-8 are kept as read.
class Config {
 public:
  Config() = default;
  virtual ~Config() = default;
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;

  // --- loading -----------------------------------------------------------------------------

  // Reads and checks the configuration file, resolving the file names it gives through the
  // containers of its folder, then the setup file against it. True only when both passed;
  // otherwise the error text says why (the first problem only, since the load stops there).
  bool LoadConfig(const std::string& configPath, const std::string& setupPath);

  // The same checks over scrambled file contents already in memory, with the names resolved
  // through the given catalogue; the names stand for the paths in the messages and become
  // loadedPath.
  bool LoadConfigFromBytes(std::span<const std::uint8_t> scrambledConfig,
                           const std::string& configName, const PackageCatalogue& catalogue,
                           std::span<const std::uint8_t> scrambledSetup,
                           const std::string& setupName);

  // Reads a scrambled file into xmlText, unscrambled. A path that is empty or too long
  // fails without a message, as does an empty file; a file that cannot be opened or read
  // leaves a line in the error text.
  bool ReadScrambledFile(const std::string& path);

  // --- queries -----------------------------------------------------------------------------

  bool HasModel(const std::string& name) const;
  // Copies the model out when it exists with a type; otherwise leaves the output alone.
  bool GetModel(const std::string& name, ModelInfo& model) const;
  // The path is empty when there is none; the result says whether it is not.
  bool GetAddressFile(const std::string& version, std::string& path) const;
  bool GetBlockFile(const std::string& modelName, const std::string& blockName,
                    const std::string& blockVersion, std::string& path) const;
  // Address and length of the first rule of the type that applies to the two codeplug major
  // numbers; both 0 and false when none does or the type is above 8.
  bool GetBackupBlock(std::uint32_t type, std::uint8_t radioVersion, std::uint8_t toolVersion,
                      std::int32_t& address, std::int32_t& length) const;

  // Cursors: each call gives the next key in ascending order and true; the call after the
  // last one gives false, leaves the output alone and starts the next pass from the first.
  bool NextModelName(std::string& name);
  bool NextAddressVersion(std::string& version);
  bool NextBackupType(std::int32_t& type);
  bool NextLanguage(std::string& language);
  // The versions of one block of one model, ascending. The first call of a pass picks the
  // model and block; later calls of the pass continue with them whatever they pass. The
  // output is cleared first; false at the end of the pass, or when the model or block is
  // unknown, and the next call starts a new pass.
  bool NextBlockVersion(std::string& version, const std::string& modelName,
                        const std::string& blockName);

  // --- setup file --------------------------------------------------------------------------

  // Writes the document back to loadedPath, scrambled, replacing the file whole; on failure
  // the file keeps its old content.
  bool SaveSetup();
  // Both outputs are cleared; false when there is no dealer password.
  bool GetDealerPasswords(std::string& password, std::string& saved) const;
  // Remembers the login: savedPassword takes the text (also when the save then fails) and
  // cd2 of the first pwd element of the setup file is set to it and saved.
  bool SetSavedPassword(const std::string& text);
  // Forgets the login: savedPassword and cd2 are emptied and the file saved, so that the next
  // start is not in dealer mode.
  bool ClearSavedPassword();
  // Stores the chosen language in def of the first langs element and saves. The language of
  // the running tool does not change until the next start.
  bool SetDefaultLanguage(const std::string& code);

  // --- the record --------------------------------------------------------------------------

  std::string loadedPath;  // the file read last; after a complete load the setup file
  std::string configPath;  // the update package's configuration file, as it was loaded
  std::string regionId;
  std::string regionName;
  std::string firmwareFile;  // empty when the configuration names no firmware
  std::string firmwareVersion;
  std::string keypadVersion;
  std::map<std::string, std::string> addressFiles;  // version -> full path
  std::map<std::string, ModelInfo> models;
  std::map<std::int32_t, std::vector<BackupRule>> backupRules;  // block type -> rules in order
  std::string dealerPassword;
  std::string savedPassword;
  std::vector<std::string> languages;  // no file lists them yet, so it stays empty
  std::string currentLanguage;         // def of the setup file's first langs element
  std::vector<std::uint8_t> xmlText;   // the unscrambled bytes of the file read last
  // The run's document (create it with CreateXmlDocument before loading); after a complete
  // load it holds the setup file.
  std::unique_ptr<XmlDocument> xmlDocument;

 private:
  bool takeScrambledBytes(const std::string& name, std::span<const std::uint8_t> bytes);
  bool loadConfigFile(bool read, const std::string& path, const PackageCatalogue* catalogue);
  bool readConfigDocument(const PackageCatalogue& catalogue);
  bool loadSetupFile(bool read, const std::string& path);
  bool readSetupDocument();
  XmlDocument& document() const;
  std::string_view xmlTextView() const {
    return {reinterpret_cast<const char*>(xmlText.data()), xmlText.size()};
  }

  // Each cursor remembers the key it gave last; none means the pass starts at the first.
  std::optional<std::string> modelCursor_;
  std::optional<std::string> addressCursor_;
  std::optional<std::int32_t> backupCursor_;
  std::size_t languageCursor_ = 0;
  struct BlockCursor {
    bool restart = true;
    std::string model;
    std::string block;
    std::optional<std::string> lastVersion;
  } blockCursor_;
};

}  // namespace orvik
