#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "config/config.h"
#include "tests/config/config_fixture.h"

namespace orvik {
namespace {

using testing::errorLines;

constexpr const char* kConfig = "<package id=\"LACR\" name=\"LACR\"/>";

// Unknown elements, comments and white space must survive a save; no declaration and no
// trailing newline, so the saved text can be compared whole.
constexpr const char* kSetup =
    "<setup id=\"LACR\" name=\"LACR\">\n"
    "  <pwd cd1=\"s3cret\" cd2=\"\"/>\n"
    "  <!-- chosen in the Language menu -->\n"
    "  <langs def=\"en_us\"/>\n"
    "  <extra keep=\"1\"><langs def=\"second\"/></extra>\n"
    "</setup>";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

class SetupFile : public testing::ConfigFixture {
 protected:
  void SetUp() override {
    ConfigFixture::SetUp();
    writeConfig(kConfig);
  }
  // Loads the setup text into a fresh record.
  bool loadSetup(const std::string& xml) {
    writeSetup(xml);
    config_ = std::make_unique<Config>();
    return load(*config_);
  }
  std::unique_ptr<Config> config_;
};

TEST_F(SetupFile, ARegionOrSetupProblemRefusesTheLoad) {
  const std::string invalid = "The setup file [" + setupPath() + "] is invalid.";
  const std::string failed = "Failed to load setup file [" + setupPath() + "].";
  struct Case {
    std::string xml;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"<s id=\"lacr\" name=\"LACR\"/>", "The setup has a different region id with config."},
      {"<s id=\"LACR\" name=\"LACX\"/>", "The setup has a different region name with config."},
      {"<s id=\"X\" name=\"Y\"/>", "The setup has a different region id with config."},
      {"<s id=\"\" name=\"LACR\"/>", "The Region ID is empty."},
      {"<s id=\"LACR\" name=\"\"/>", "The Region name is empty."},
      {"<s id=\"LACR\"/>", failed},
      {"<s id=\"LACR\" name=\"LACR\"><pwd cd1=\"a\"/></s>", failed},
      {"<s id=\"LACR\" name=\"LACR\"><pwd cd2=\"a\"/></s>", failed},
      {"<s id=\"LACR\" name=\"LACR\"", invalid},
      {"", invalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    removeErrors(ErrorCategory::OK);
    EXPECT_FALSE(loadSetup(c.xml));
    EXPECT_EQ(errorLines(), std::vector<std::string>{"6:" + c.line});
  }

  removeErrors(ErrorCategory::OK);
  std::filesystem::remove(setupPath());
  Config config;
  EXPECT_FALSE(load(config));
  EXPECT_EQ(errorLines(), (std::vector<std::string>{
                              "1:Error:failed to open the specified file [" + setupPath() + "].",
                              "6:" + invalid}));
}

TEST_F(SetupFile, DealerPasswordsUnlockOnlyWhenPresent) {
  std::string password = "stale", saved = "stale";
  ASSERT_TRUE(loadSetup("<s id=\"LACR\" name=\"LACR\"/>"));
  EXPECT_FALSE(config_->GetDealerPasswords(password, saved));
  EXPECT_EQ(password + saved, "");
  EXPECT_EQ(config_->currentLanguage, "");
  // Nothing to remember the login in; the run still counts it.
  EXPECT_FALSE(config_->SetSavedPassword("x"));
  EXPECT_EQ(config_->savedPassword, "x");
  EXPECT_FALSE(config_->SetDefaultLanguage("de"));

  ASSERT_TRUE(loadSetup("<s id=\"LACR\" name=\"LACR\"><pwd cd1=\"p\" cd2=\"p\"/></s>"));
  ASSERT_TRUE(config_->GetDealerPasswords(password, saved));
  EXPECT_EQ(password, "p");
  EXPECT_EQ(saved, "p");

  // The language element need not carry a language.
  ASSERT_TRUE(loadSetup("<s id=\"LACR\" name=\"LACR\"><langs/></s>"));
  EXPECT_EQ(config_->currentLanguage, "");
}

TEST_F(SetupFile, ChangesRewriteTheWholeDocumentWithOneValueChanged) {
  ASSERT_TRUE(loadSetup(kSetup));
  EXPECT_EQ(config_->currentLanguage, "en_us");
  const std::vector<std::uint8_t> before = readBytes(setupPath());

  EXPECT_FALSE(config_->SetSavedPassword(""));
  EXPECT_FALSE(config_->SetDefaultLanguage(""));
  EXPECT_EQ(readBytes(setupPath()), before);

  ASSERT_TRUE(config_->SetDefaultLanguage("fr_ca"));
  EXPECT_EQ(readUnscrambled(setupPath()), replaced(kSetup, "def=\"en_us\"", "def=\"fr_ca\""));
  EXPECT_EQ(config_->currentLanguage, "en_us");  // until the next start

  ASSERT_TRUE(config_->SetSavedPassword("s3cret"));
  EXPECT_EQ(
      readUnscrambled(setupPath()),
      replaced(replaced(kSetup, "def=\"en_us\"", "def=\"fr_ca\""), "cd2=\"\"", "cd2=\"s3cret\""));

  // The next start is unlocked and in the chosen language.
  ASSERT_TRUE(loadSetup(readUnscrambled(setupPath())));
  std::string password, saved;
  ASSERT_TRUE(config_->GetDealerPasswords(password, saved));
  EXPECT_EQ(saved, password);
  EXPECT_EQ(config_->currentLanguage, "fr_ca");
}

TEST_F(SetupFile, AFailedSaveLeavesTheOldFileWhole) {
  ASSERT_TRUE(loadSetup(kSetup));
  const std::vector<std::uint8_t> before = readBytes(setupPath());
  const std::filesystem::path machine = std::filesystem::path(setupPath()).parent_path();

  // The disk fills up half-way through the new content.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit limit{}, original{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
  limit = original;
  limit.rlim_cur = before.size() / 2;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool saved = config_->SetSavedPassword("s3cret");
  setrlimit(RLIMIT_FSIZE, &original);
  sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_FALSE(saved);
  EXPECT_EQ(readBytes(setupPath()), before);
  EXPECT_EQ(config_->savedPassword, "s3cret");  // the run counts it all the same

  // Nowhere to write to, or a folder in the file's place.
  for (const std::filesystem::path& path :
       {machine / "gone" / "setup.dat", machine, std::filesystem::path()}) {
    config_->loadedPath = path.string();
    EXPECT_FALSE(config_->SaveSetup());
  }
  EXPECT_EQ(readBytes(setupPath()), before);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(machine)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"setup.dat"});  // no temporary file left behind

  // A document that failed to parse is not saved as an empty file.
  config_->loadedPath = setupPath();
  EXPECT_FALSE(config_->xmlDocument->loadXML("<broken"));
  EXPECT_FALSE(config_->SaveSetup());
  EXPECT_EQ(readBytes(setupPath()), before);
}

TEST_F(SetupFile, ASaveKeepsPermissionsAndFollowsALink) {
  const std::filesystem::path real = folder_ / "shared" / "setup.dat";
  std::filesystem::create_directories(real.parent_path());
  writeScrambled(real, kSetup);
  std::filesystem::remove(setupPath());
  std::filesystem::create_symlink(real, setupPath());
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);

  Config config;
  ASSERT_TRUE(load(config)) << joinedErrorText();
  ASSERT_TRUE(config.SetDefaultLanguage("de"));
  EXPECT_TRUE(std::filesystem::is_symlink(setupPath()));
  EXPECT_EQ(readUnscrambled(real), replaced(kSetup, "def=\"en_us\"", "def=\"de\""));
  struct stat status {};
  ASSERT_EQ(stat(real.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace orvik
