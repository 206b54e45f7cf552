#include "package/kxk_header.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/package/kxk_bytes.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using testing::KxkBytes;
using testing::modelPrefix;
using testing::regionPrefix;
using KxkHeader = testing::ErrorTextTest;

TEST_F(KxkHeader, ReadsEachTypeAndKeepsTheShortenedNames) {
  struct Case {
    const char* label;
    std::uint8_t type;
    std::vector<std::uint8_t> prefix;
    std::uint32_t payloadLength;  // body of 10 bytes
    std::uint32_t prefixNumber;
    std::string modelName;
    std::string regionName;
  };
  const std::vector<Case> cases = {
      {"model name of 21 bytes keeps 11", 0, modelPrefix(0x01020304, "ABCDEFGHIJKLMNOPQRSTU"), 10,
       0x01020304, "ABCDEFGHIJK", ""},
      {"short model name", 0, modelPrefix(9, "LA26"), 10, 9, "LA26", ""},
      {"codeplug version", 1, {'R', 1, 4, 0}, 10, 0x0004'0152, "", ""},
      {"type 2", 2, {'R', 1, 3, 0}, 10, 0x0003'0152, "", ""},
      {"region of 11 bytes keeps 10", 3, regionPrefix("ABCDEFGHIJK"), 10, 0, "", "ABCDEFGHIJ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    KxkBytes kxk;
    kxk.type = c.type;
    kxk.prefix = c.prefix;
    kxk.name = "INTERNAL";
    kxk.body = "0123456789";
    kxk.fixDigest = false;  // the header reader does not check the digest
    KxkHeaderInfo info;
    ASSERT_TRUE(readKxkHeader(kxk.build(), "f", &info));
    EXPECT_EQ(info.type, c.type);
    EXPECT_EQ(info.payloadLength, c.payloadLength);
    EXPECT_EQ(info.internalNameLength, 8);
    EXPECT_EQ(info.internalName, "INTERNAL");
    EXPECT_EQ(info.prefixNumber, c.prefixNumber);
    EXPECT_EQ(info.modelNameLength, c.modelName.size());
    EXPECT_EQ(info.modelName, c.modelName);
    EXPECT_EQ(info.regionName, c.regionName);
  }
  EXPECT_TRUE(testing::errorLines().empty());
}

TEST_F(KxkHeader, RefusesWhatItCannotReadWithItsLine) {
  auto kxk = [](std::uint8_t type, std::vector<std::uint8_t> prefix, long long declared = -1) {
    KxkBytes k;
    k.type = type;
    k.prefix = std::move(prefix);
    k.body = "";
    k.declaredLength = declared;
    return k.build();
  };
  std::vector<std::uint8_t> badSignature = KxkBytes{}.build();
  badSignature[0] = 'k';
  std::vector<std::uint8_t> shortName = KxkBytes{}.build();
  shortName.resize(36);  // two of the four name bytes

  struct Case {
    const char* label;
    std::vector<std::uint8_t> bytes;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"33 bytes", std::vector<std::uint8_t>(33, 0),
       "Error:failed to read KXK header for file [f]."},
      {"signature", badSignature, "Error:invalid signature for file [f]."},
      {"type 5", kxk(5, {}), "Error:invalid KXK type for file [f]."},
      {"name cut short", shortName, "Error:failed to read internal name for file [f]."},
      {"type 0 without its 5 bytes", kxk(0, {1, 2, 3, 4}),
       "Error:faild to retrival codeplug version for [f]."},
      {"type 0 model name cut short", kxk(0, modelPrefix(1, "AB", 3)),
       "Error:failed to retrival model number for [f]."},
      {"type 1 without its 4 bytes", kxk(1, {1, 2, 3}),
       "Error:faild to retreval codeplug version for [f]."},
      {"type 3 without its length byte", kxk(3, {}),
       "Error:faild to retreval codeplug version for [f]."},
      {"type 3 region cut short", kxk(3, {5, 'A', 'B'}),
       "Error:failed to retrival model number for [f]."},
      // A declared payload shorter than the prefix would wrap the remaining length.
      {"type 0 payload shorter than its prefix", kxk(0, modelPrefix(1, "AB"), 6),
       "Error:invalid file [f]."},
      {"type 1 payload of 0 bytes", kxk(1, {'R', 1, 0, 0}, 0), "Error:invalid file [f]."},
      {"type 3 payload shorter than its region", kxk(3, regionPrefix("LACR"), 4),
       "Error:invalid file [f]."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    removeErrors(ErrorCategory::OK);
    KxkHeaderInfo info;
    EXPECT_FALSE(readKxkHeader(c.bytes, "f", &info));
    EXPECT_EQ(testing::errorLines(), std::vector<std::string>{"7:" + c.line});
  }
}

TEST_F(KxkHeader, WithoutARecordOnlyTheFirst34BytesMustBeThere) {
  EXPECT_TRUE(readKxkHeader(std::vector<std::uint8_t>(34, 0xEE), "f", nullptr));
  EXPECT_FALSE(readKxkHeader(std::vector<std::uint8_t>(33, 0xEE), "f", nullptr));
}

TEST_F(KxkHeader, ReadsFromFiles) {
  testing::TempFolder folder;
  {
    const auto bytes = KxkBytes{}.build();
    std::ofstream out(folder / "a.kxk", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }
  KxkHeaderInfo info;
  ASSERT_TRUE(readKxkHeader(folder / "a.kxk", &info));
  EXPECT_EQ(info.internalName, "NAME");
  EXPECT_EQ(info.payloadLength, 4u);

  EXPECT_FALSE(readKxkHeader(std::filesystem::path(), &info));
  EXPECT_TRUE(testing::errorLines().empty());
  EXPECT_FALSE(readKxkHeader(folder / "none", &info));
  EXPECT_EQ(testing::errorLines(), std::vector<std::string>{"1:Error:failed to open the file [" +
                                                            (folder / "none").string() + "]."});
}

}  // namespace
}  // namespace orvik
