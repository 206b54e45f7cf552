#include "config/config.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pack/pack_cli.h"
#include "tests/config/config_fixture.h"

namespace orvik {
namespace {

using ConfigFile = testing::ConfigFixture;
using testing::errorLines;

constexpr const char* kSetup = "<setup id=\"LACR\" name=\"LACR\"><pwd cd1=\"d\" cd2=\"\"/></setup>";

std::string inRoot(const std::string& body) {
  return "<package id=\"LACR\" name=\"LACR\">" + body + "</package>";
}

TEST_F(ConfigFile, TheDemoPackageLoads) {
  std::ostringstream out, err;
  ASSERT_EQ(runPack({"demo", dataDir().string(), "--setup", setupPath()}, out, err), kPackOk);

  Config config;
  ASSERT_TRUE(load(config)) << joinedErrorText();
  EXPECT_TRUE(errorLines().empty());
  EXPECT_EQ(config.regionId, "LACR");
  EXPECT_EQ(config.regionName, "LACR");
  EXPECT_EQ(config.firmwareFile, (dataDir() / "fw_lacr_r010300.kxk").string());
  EXPECT_EQ(config.firmwareVersion, "R01.03.00");
  EXPECT_EQ(config.keypadVersion, "R01.00.00");
  std::string path;
  ASSERT_TRUE(config.GetAddressFile("R01.04.00", path));
  EXPECT_EQ(path, (dataDir() / "addr_r010400.kxk").string());
  ASSERT_TRUE(config.GetBlockFile("LA26CKN9AR1", "DEF", "R01.03.00", path));
  EXPECT_EQ(path, (dataDir() / "la26ckn9ar1_def_r010300.kxk").string());
  ModelInfo model;
  ASSERT_TRUE(config.GetModel("LA26CKN9AR1", model));
  EXPECT_EQ(model.alias, "LA26 Portable");
  EXPECT_EQ(model.image, 0);
  std::int32_t address = 0, length = 0;
  EXPECT_TRUE(config.GetBackupBlock(2, 1, 1, address, length));
  EXPECT_EQ(address, 0x830000);
  EXPECT_EQ(length, 0x2000);
  EXPECT_EQ(config.dealerPassword, "12345678");
  EXPECT_EQ(config.savedPassword, "");
  EXPECT_EQ(config.currentLanguage, "en_us");
  EXPECT_TRUE(config.languages.empty());
  // After a complete load the document and loadedPath are the setup file's.
  EXPECT_EQ(config.loadedPath, setupPath());
  EXPECT_EQ(config.xmlDocument->documentElement().getAttribute("name"), "LACR");
  EXPECT_EQ(config.xmlDocument->getElementsByTagName("pwd").length(), 1u);
}

TEST_F(ConfigFile, SectionsResolveThroughInternalNamesWhereverTheyAre) {
  addContainer("LACR_FW");
  addContainer("ADDR_R01.02.03");
  addContainer("LA26DEFR01.04.00");
  addContainer("LA26DEFR01.03.00");
  addContainer("LA26HWR01.00.00");
  writeConfig(
      inRoot("<group><fi name=\"LACR_FW\" ver=\"R01.03.00\"/></group>"
             "<fi name=\"ignored\" ver=\"\"/>"
             "<kp name=\"anything\" ver=\"R01.00.00\"/>"
             "<ad name=\"ADDR_\" ver=\"R01.02.03\"/>"
             "<bu><bl name=\"dyn\" from=\"1^2^300\" to=\"\" addr=\"0x820000\" len=\"1000\"/>"
             "    <bl name=\"HW\"/>"
             "    <bl name=\"CON\" from=\"\" to=\"4\" addr=\"830000\" len=\"2000\"/>"
             "    <bl name=\"Dyn\" from=\"\" to=\"\" addr=\"10\" len=\"20\"/></bu>"
             "<bu><bl name=\"DYN\"/></bu>"
             "<mo type=\"OLD\" alias=\"first\" img=\"1\" name=\"LA26\"/>"
             "<mo type=\"LA26\" alias=\"Portable\" img=\"5\" name=\"LA26\">"
             "  <bl name=\"DEF\" ver=\"R01.04.00\"/><x><bl name=\"DEF\" ver=\"R01.03.00\"/></x>"
             "  <bl name=\"HW\" ver=\"R01.00.00\"/></mo>"));
  writeSetup(kSetup);

  Config config;
  ASSERT_TRUE(load(config)) << joinedErrorText();
  EXPECT_EQ(config.firmwareVersion, "R01.03.00");
  EXPECT_EQ(config.keypadVersion, "R01.00.00");
  EXPECT_EQ(config.addressFiles.size(), 1u);
  std::string path;
  EXPECT_TRUE(config.GetAddressFile("R01.02.03", path));

  // Only the first bu counts; its HW rule is skipped, its dyn rules are type 0 in file order.
  ASSERT_EQ(config.backupRules.size(), 2u);
  const std::vector<BackupRule>& dyn = config.backupRules.at(kBackupTypeDyn);
  ASSERT_EQ(dyn.size(), 2u);
  EXPECT_EQ(dyn[0].fromVersions, (std::set<std::uint8_t>{1, 2, 44}));
  EXPECT_TRUE(dyn[0].toVersions.empty());
  EXPECT_EQ(dyn[0].address, 0x820000);
  EXPECT_EQ(dyn[1].length, 0x20);

  // The second mo of the same name replaced the first; img 5 means no picture.
  ModelInfo model;
  ASSERT_TRUE(config.GetModel("LA26", model));
  EXPECT_EQ(model.type, "LA26");
  EXPECT_EQ(model.image, -1);
  EXPECT_EQ(model.blocks.at("DEF").size(), 2u);
  EXPECT_TRUE(config.GetBlockFile("LA26", "HW", "R01.00.00", path));
}

TEST_F(ConfigFile, AConfigurationWithoutSectionsLoadsEmpty) {
  writeConfig(inRoot(""));
  writeSetup(kSetup);
  Config config;
  ASSERT_TRUE(load(config)) << joinedErrorText();
  EXPECT_TRUE(config.firmwareFile.empty());
  EXPECT_TRUE(config.firmwareVersion.empty());
  EXPECT_TRUE(config.keypadVersion.empty());
  EXPECT_TRUE(config.addressFiles.empty());
  EXPECT_TRUE(config.models.empty());
  EXPECT_TRUE(config.backupRules.empty());
}

TEST_F(ConfigFile, TheFirstProblemEndsTheLoadWithItsLine) {
  addContainer("FW");
  addContainer("ADDR_R01");
  addContainer("MDEFR1");
  const std::string failed = "Failed to load config file [" + configPath() + "].";
  struct Case {
    std::string xml;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"<p id=\"\" name=\"\"/>", "The Region ID is empty."},
      {"<p id=\"R\" name=\"\"/>", "The Region name is empty."},
      {"<p name=\"R\"/>", failed},
      // The name is checked before the version.
      {inRoot("<fi name=\"nothing\" ver=\"\"/>"), "The FW file is lost."},
      {inRoot("<fi name=\"fw\" ver=\"1\"/>"), "The FW file is lost."},
      {inRoot("<fi name=\"FW\" ver=\"\"/>"), "The FW version is empty."},
      {inRoot("<fi name=\"FW\"/>"), failed},
      {inRoot("<kp name=\"k\" ver=\"\"/>"), "The KP version is empty."},
      {inRoot("<kp ver=\"R1\"/>"), failed},
      {inRoot("<ad name=\"ADDR_\" ver=\"\"/>"), "The ADDR version is empty."},
      {inRoot("<ad name=\"ADDR_\" ver=\"R02\"/>"), "Address file is lost."},
      {inRoot("<bu><bl name=\"CON\" from=\"\" to=\"\" addr=\"1\"/></bu>"), failed},
      {inRoot("<mo type=\"\" alias=\"a\" img=\"0\" name=\"M\"/>"), "Block type is empty."},
      {inRoot("<mo type=\"t\" alias=\"\" img=\"0\" name=\"M\"/>"), "Block alias is empty."},
      {inRoot("<mo type=\"t\" alias=\"a\" img=\"abc\" name=\"M\"/>"), failed},
      {inRoot("<mo type=\"t\" alias=\"a\" img=\"0\" name=\"\"/>"), "Model name is empty."},
      {inRoot("<mo type=\"t\" alias=\"a\" img=\"0\" name=\"M\"><bl name=\"\" ver=\"1\"/></mo>"),
       "Block name is empty."},
      {inRoot("<mo type=\"t\" alias=\"a\" img=\"0\" name=\"M\"><bl name=\"DEF\" ver=\"\"/></mo>"),
       "Block version is empty."},
      {inRoot("<mo type=\"t\" alias=\"a\" img=\"0\" name=\"M\"><bl name=\"DEF\" ver=\"R2\"/></mo>"),
       "Block M file is lost."},
      {"<p id=\"R\" name=\"R\">", "The initial file [" + configPath() + "] is invalid."},
      {"", "The initial file [" + configPath() + "] is invalid."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    removeErrors(ErrorCategory::OK);
    writeConfig(c.xml);
    // A setup file that would fail on its own shows that the load stopped before it.
    writeSetup("<broken");
    Config config;
    EXPECT_FALSE(load(config));
    EXPECT_EQ(errorLines(), std::vector<std::string>{"6:" + c.line});
  }
}

TEST_F(ConfigFile, AMissingOrUnreadableFileLeavesTheFileLineFirst) {
  Config config;
  EXPECT_FALSE(load(config));
  EXPECT_EQ(errorLines(), (std::vector<std::string>{
                              "1:Error:failed to open the specified file [" + configPath() + "].",
                              "6:The initial file [" + configPath() + "] is invalid."}));

  // A folder is no file to read either.
  removeErrors(ErrorCategory::OK);
  std::filesystem::create_directory(configPath());
  EXPECT_FALSE(config.ReadScrambledFile(configPath()));
  EXPECT_EQ(errorLines(), std::vector<std::string>{"1:Error:failed to open the specified file [" +
                                                   configPath() + "]."});
}

// A configuration or setup file is a few KiB; one of gigabytes is refused unread.
TEST_F(ConfigFile, AFileLargerThanAnyConfigurationIsRefusedUnread) {
  std::ofstream(configPath()).put('<');
  std::filesystem::resize_file(configPath(), std::uintmax_t{1} << 30);  // sparse
  Config config;
  EXPECT_FALSE(config.ReadScrambledFile(configPath()));
  EXPECT_EQ(errorLines(), std::vector<std::string>{"1:Error:invalid config file."});
  EXPECT_TRUE(config.xmlText.empty());
}

TEST_F(ConfigFile, APathOf512CharactersIsRefusedWithoutALine) {
  Config config;
  config.loadedPath = "before";
  const std::string tooLong = "/" + std::string(511, 'a');
  EXPECT_FALSE(config.ReadScrambledFile(tooLong));
  EXPECT_FALSE(config.ReadScrambledFile(""));
  EXPECT_TRUE(errorLines().empty());
  EXPECT_EQ(config.loadedPath, "before");

  // One character less is tried, and remembered.
  const std::string longest = tooLong.substr(1);
  EXPECT_FALSE(config.ReadScrambledFile(longest));
  EXPECT_EQ(config.loadedPath, longest);
  EXPECT_EQ(errorLines().size(), 1u);

  removeErrors(ErrorCategory::OK);
  ASSERT_TRUE(CreateXmlDocument(config.xmlDocument));
  EXPECT_FALSE(config.LoadConfig(tooLong, setupPath()));
  // The line is cut to the longest the error text keeps.
  EXPECT_EQ(errorLines(), std::vector<std::string>{
                              "6:" + truncateUtf8("The initial file [" + tooLong + "] is invalid.",
                                                  kMaxErrorTextLength)});
}

// Queries over a record filled by hand: they only read what the load stored.
class ConfigQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    config.addressFiles = {{"R01.02.00", "/p/a2"}, {"R01.01.00", "/p/a1"}};
    config.models["B"].type = "tb";
    config.models["A"].type = "ta";
    config.models["A"].blocks["DEF"] = {{"R02", "/p/d2"}, {"R01", "/p/d1"}};
    config.models["NOTYPE"].alias = "x";
    BackupRule narrow{0x100, 0x10, {3}, {4}};
    BackupRule wide{0x200, 0x20, {}, {}};
    config.backupRules[2] = {narrow, wide};
    config.backupRules[0] = {narrow};
  }
  Config config;
};

TEST_F(ConfigQueries, CursorsListEveryKeyOnceAscendingThenStartOver) {
  std::string version = "untouched";
  std::vector<std::string> seen;
  while (config.NextAddressVersion(version)) {
    seen.push_back(version);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"R01.01.00", "R01.02.00"}));
  EXPECT_EQ(version, "R01.02.00");  // the call that ended the pass wrote nothing
  ASSERT_TRUE(config.NextAddressVersion(version));
  EXPECT_EQ(version, "R01.01.00");

  std::string name;
  seen.clear();
  while (config.NextModelName(name)) {
    seen.push_back(name);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"A", "B", "NOTYPE"}));

  std::int32_t type = -1;
  std::vector<std::int32_t> types;
  while (config.NextBackupType(type)) {
    types.push_back(type);
  }
  EXPECT_EQ(types, (std::vector<std::int32_t>{0, 2}));

  std::string language = "x";
  EXPECT_FALSE(config.NextLanguage(language));
  EXPECT_EQ(language, "x");
  config.languages = {"en_us", "de"};
  EXPECT_TRUE(config.NextLanguage(language));
  EXPECT_TRUE(config.NextLanguage(language));
  EXPECT_EQ(language, "de");
  EXPECT_FALSE(config.NextLanguage(language));
  EXPECT_TRUE(config.NextLanguage(language));
  EXPECT_EQ(language, "en_us");
}

TEST_F(ConfigQueries, BlockVersionsKeepTheirPassWhateverLaterCallsName) {
  std::string version;
  ASSERT_TRUE(config.NextBlockVersion(version, "A", "DEF"));
  EXPECT_EQ(version, "R01");
  ASSERT_TRUE(config.NextBlockVersion(version, "B", "nothing"));
  EXPECT_EQ(version, "R02");
  EXPECT_FALSE(config.NextBlockVersion(version, "A", "DEF"));
  EXPECT_EQ(version, "");
  // A new pass starts from the first version; an unknown model or block ends at once.
  ASSERT_TRUE(config.NextBlockVersion(version, "A", "DEF"));
  EXPECT_EQ(version, "R01");
  EXPECT_TRUE(config.NextBlockVersion(version, "", ""));
  EXPECT_FALSE(config.NextBlockVersion(version, "", ""));
  EXPECT_FALSE(config.NextBlockVersion(version, "A", "HW"));
  EXPECT_FALSE(config.NextBlockVersion(version, "Z", "DEF"));
  EXPECT_TRUE(config.NextBlockVersion(version, "A", "DEF"));
  EXPECT_EQ(version, "R01");
}

TEST_F(ConfigQueries, LookupsAnswerOnlyForWhatIsThere) {
  ModelInfo model;
  model.alias = "untouched";
  EXPECT_FALSE(config.GetModel("NOTYPE", model));
  EXPECT_FALSE(config.GetModel("a", model));
  EXPECT_EQ(model.alias, "untouched");
  EXPECT_TRUE(config.HasModel("NOTYPE"));
  EXPECT_FALSE(config.HasModel("a"));

  std::string path = "stale";
  EXPECT_FALSE(config.GetAddressFile("R09", path));
  EXPECT_EQ(path, "");
  for (const auto& [m, b, v] : std::vector<std::array<const char*, 3>>{
           {"Z", "DEF", "R01"}, {"A", "HW", "R01"}, {"A", "DEF", "R03"}}) {
    path = "stale";
    EXPECT_FALSE(config.GetBlockFile(m, b, v, path));
    EXPECT_EQ(path, "");
  }
  EXPECT_TRUE(config.GetBlockFile("A", "DEF", "R02", path));
  EXPECT_EQ(path, "/p/d2");
}

TEST_F(ConfigQueries, TheFirstMatchingBackupRuleGivesTheBlock) {
  struct Case {
    std::uint32_t type;
    std::uint8_t radio;
    std::uint8_t tool;
    bool found;
    std::int32_t address;
    std::int32_t length;
  };
  for (const Case& c : std::vector<Case>{{2, 3, 4, true, 0x100, 0x10},
                                         {2, 3, 5, true, 0x200, 0x20},
                                         {0, 3, 4, true, 0x100, 0x10},
                                         {0, 4, 4, false, 0, 0},
                                         {1, 3, 4, false, 0, 0},
                                         {9, 3, 4, false, 0, 0}}) {
    SCOPED_TRACE(c.type);
    std::int32_t address = -1, length = -1;
    EXPECT_EQ(config.GetBackupBlock(c.type, c.radio, c.tool, address, length), c.found);
    EXPECT_EQ(address, c.address);
    EXPECT_EQ(length, c.length);
  }
  // A type above 8 is refused even when a list exists for it.
  config.backupRules[9] = config.backupRules[2];
  std::int32_t address = -1, length = -1;
  EXPECT_FALSE(config.GetBackupBlock(9, 3, 4, address, length));
  EXPECT_EQ(address, 0);
}

}  // namespace
}  // namespace orvik
