// Loads arbitrary bytes as a configuration file and a setup file, and checks what a load
// promises: one line for a failure and none for a success, a record without empty names or
// paths, and a setup document that loads again as saved with the same passwords.
//
// Input: two bytes giving the length of the configuration part (big-endian), the
// configuration, then the setup file. Both parts are plain XML that is scrambled here as the
// files are on disk, so the seeds stay readable and mutations keep their alignment.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/scramble.h"
#include "errors/error_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace orvik;
using fuzzing::check;

// The demo package's internal names, so that the seeds resolve.
const PackageCatalogue& demoCatalogue() {
  static const PackageCatalogue catalogue = [] {
    PackageCatalogue c;
    for (const char* name : {"LACR_FW", "ADDR_R01.04.00", "ADDR_R01.03.00",
                             "LA26CKN9AR1DEFR01.04.00", "LA26CKN9AR1DEFR01.03.00"}) {
      c.byInternalName[name] = std::string("/package/") + name;
    }
    return c;
  }();
  return catalogue;
}

bool load(Config& config, std::vector<std::uint8_t> configFile,
          std::vector<std::uint8_t> setupFile) {
  Scramble(configFile);
  Scramble(setupFile);
  check(CreateXmlDocument(config.xmlDocument));
  return config.LoadConfigFromBytes(configFile, "config.xml", demoCatalogue(), setupFile,
                                    "setup.dat");
}

void checkRecord(Config& config) {
  check(!config.regionId.empty() && !config.regionName.empty());
  for (const auto& [version, path] : config.addressFiles) {
    check(!version.empty() && !path.empty());
  }
  for (const auto& [name, model] : config.models) {
    check(!name.empty() && !model.type.empty() && !model.alias.empty());
    check(model.image >= -1 && model.image <= 2);
    for (const auto& [block, versions] : model.blocks) {
      for (const auto& [version, path] : versions) {
        check(!block.empty() && !version.empty() && !path.empty());
      }
    }
  }
  for (const auto& [type, rules] : config.backupRules) {
    check((type == kBackupTypeDyn || type == kBackupTypeCon) && !rules.empty());
  }

  // Every cursor ends its pass after listing each key once.
  std::string text;
  std::size_t count = 0;
  while (config.NextModelName(text)) {
    check(++count <= config.models.size());
  }
  count = 0;
  while (config.NextAddressVersion(text)) {
    check(++count <= config.addressFiles.size());
  }
  std::int32_t type = 0;
  count = 0;
  while (config.NextBackupType(type)) {
    check(++count <= config.backupRules.size());
    std::int32_t address = 0, length = 0;
    config.GetBackupBlock(static_cast<std::uint32_t>(type), 1, 1, address, length);
  }
  for (const auto& [name, model] : config.models) {
    for (const auto& [block, versions] : model.blocks) {
      count = 0;
      while (config.NextBlockVersion(text, name, block)) {
        check(++count <= versions.size());
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::size_t configSize = std::min<std::size_t>(size - 2, bytes[0] << 8 | bytes[1]);
  const std::vector<std::uint8_t> configFile(bytes + 2, bytes + 2 + configSize);
  const std::vector<std::uint8_t> setupFile(bytes + 2 + configSize, bytes + size);

  removeErrors(ErrorCategory::OK);
  Config config;
  const bool loaded = load(config, configFile, setupFile);
  const std::vector<ErrorEntry> lines = errorEntries();
  if (!loaded) {
    check(lines.size() == 1 && lines[0].category == ErrorCategory::INI);
    removeErrors(ErrorCategory::OK);
    return 0;
  }
  check(lines.empty());
  checkRecord(config);

  // What SaveSetup would write loads again to the same passwords and language.
  const std::string saved = config.xmlDocument->xml();
  Config again;
  check(load(again, configFile, {saved.begin(), saved.end()}));
  check(again.dealerPassword == config.dealerPassword);
  check(again.savedPassword == config.savedPassword);
  check(again.currentLanguage == config.currentLanguage);
  removeErrors(ErrorCategory::OK);
  return 0;
}
