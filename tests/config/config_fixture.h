#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"

namespace orvik::testing {

// A package folder and a machine folder made with orvik-pack: containers by internal name,
// a scrambled config.xml beside them and a scrambled setup.dat apart.
class ConfigFixture : public ErrorTextTest {
 protected:
  void SetUp() override;

  std::filesystem::path dataDir() const { return folder_ / "data"; }
  std::string configPath() const { return (dataDir() / "config.xml").string(); }
  std::string setupPath() const { return (folder_ / "machine" / "setup.dat").string(); }

  // A container whose header names it; its file name says nothing.
  void addContainer(const std::string& internalName);
  void writeConfig(const std::string& xml) { writeScrambled(configPath(), xml); }
  void writeSetup(const std::string& xml) { writeScrambled(setupPath(), xml); }
  void writeScrambled(const std::filesystem::path& path, const std::string& xml);
  std::string readUnscrambled(const std::filesystem::path& path);
  static std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
  static void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

  // Creates the document and loads both files.
  bool load(Config& config);

  TempFolder folder_;

 private:
  int containers_ = 0;
};

}  // namespace orvik::testing
