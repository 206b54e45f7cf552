#include "package/package_catalogue.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/package/kxk_bytes.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using Catalogue = testing::ErrorTextTest;

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

std::vector<std::uint8_t> container(const std::string& internalName) {
  testing::KxkBytes kxk;
  kxk.name = internalName;
  return kxk.build();
}

TEST_F(Catalogue, IndexesContainersByInternalNameAndSkipsEverythingElse) {
  testing::TempFolder folder;
  writeFile(folder / "a_fw.kxk", container("FW"));
  writeFile(folder / "b_map.kxk", container("ADDR_R01.04.00"));
  writeFile(folder / "c_dup.kxk", container("DUP"));
  writeFile(folder / "d_dup.kxk", container("DUP"));
  writeFile(folder / "config.xml", {'<', 'x', '/', '>'});
  writeFile(folder / "short.bin", {'K', 'X', 'K'});
  std::filesystem::create_directory(folder / "sub");

  // The configuration builds its pattern from its own path; a line from before the scan goes
  // with the scan's own.
  appendError(ErrorCategory::INI, "older line");
  PackageCatalogue catalogue;
  catalogue.byInternalName["stale"] = "x";
  const std::string pattern = (folder / "config.xml").string() + "/../*.*";
  EXPECT_EQ(scanPackage(pattern, catalogue), 4);
  EXPECT_TRUE(testing::errorLines().empty());

  std::vector<std::string> names;
  for (const auto& [name, info] : catalogue.byName) {
    names.push_back(name + "=" + info.internalName);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a_fw.kxk=FW", "b_map.kxk=ADDR_R01.04.00",
                                             "c_dup.kxk=DUP", "d_dup.kxk=DUP"}));
  std::string path;
  ASSERT_TRUE(findByInternalName(catalogue, "ADDR_R01.04.00", path));
  EXPECT_EQ(std::filesystem::path(path), folder / "b_map.kxk");
  ASSERT_TRUE(findByInternalName(catalogue, "DUP", path));
  EXPECT_EQ(std::filesystem::path(path), folder / "d_dup.kxk");  // the last in name order
  EXPECT_FALSE(findByInternalName(catalogue, "stale", path));
  EXPECT_FALSE(findByInternalName(catalogue, "fw", path));  // exact, case-sensitive
}

TEST_F(Catalogue, AFolderThatCannotBeListedGivesNothingAndOneLine) {
  testing::TempFolder folder;
  PackageCatalogue catalogue;
  catalogue.byName["old"] = KxkHeaderInfo{};
  const std::string pattern = (folder / "missing").string() + "/*.*";
  EXPECT_EQ(scanPackage(pattern, catalogue), 0);
  EXPECT_TRUE(catalogue.byName.empty());
  EXPECT_EQ(testing::errorLines(),
            std::vector<std::string>{"1:Error:failed to find the file [" + pattern + "]."});
}

}  // namespace
}  // namespace orvik
