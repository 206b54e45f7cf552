#include "tests/config/config_fixture.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "pack/kxk_builder.h"
#include "pack/pack_cli.h"
#include "package/kxk_file.h"

namespace orvik::testing {

void ConfigFixture::SetUp() {
  ErrorTextTest::SetUp();
  std::filesystem::create_directories(dataDir());
  std::filesystem::create_directories(folder_ / "machine");
}

void ConfigFixture::addContainer(const std::string& internalName) {
  KxkContents contents;
  contents.type = kKxkCodeplugFile;
  contents.version = {'R', 1, 0, 0};
  contents.codeplugVersion = contents.version;
  contents.internalName = internalName;
  contents.body = {'b', 'o', 'd', 'y'};
  std::string error;
  const auto bytes = buildKxkFile(contents, error);
  ASSERT_TRUE(bytes) << error;
  writeBytes(dataDir() / ("file" + std::to_string(++containers_) + ".kxk"), *bytes);
}

void ConfigFixture::writeScrambled(const std::filesystem::path& path, const std::string& xml) {
  const std::filesystem::path plain = folder_ / "plain.xml";
  writeBytes(plain, {xml.begin(), xml.end()});
  std::ostringstream out, err;
  ASSERT_EQ(runPack({"scramble", plain.string(), path.string()}, out, err), kPackOk) << err.str();
  std::filesystem::remove(plain);
}

std::string ConfigFixture::readUnscrambled(const std::filesystem::path& path) {
  const std::filesystem::path plain = folder_ / "plain.xml";
  std::ostringstream out, err;
  EXPECT_EQ(runPack({"unscramble", path.string(), plain.string()}, out, err), kPackOk) << err.str();
  const std::vector<std::uint8_t> bytes = readBytes(plain);
  std::filesystem::remove(plain);
  return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> ConfigFixture::readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ConfigFixture::writeBytes(const std::filesystem::path& path,
                               const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

bool ConfigFixture::load(Config& config) {
  EXPECT_TRUE(CreateXmlDocument(config.xmlDocument));
  return config.LoadConfig(configPath(), setupPath());
}

}  // namespace orvik::testing
