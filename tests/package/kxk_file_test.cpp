#include "package/kxk_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "package/md5.h"
#include "tests/package/kxk_bytes.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using testing::KxkBytes;
using testing::modelPrefix;
using testing::regionPrefix;
using KxkFileTest = testing::ErrorTextTest;

std::string text(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

std::string hex(const Md5Digest& digest) {
  std::string out;
  for (std::uint8_t b : digest) {
    out += "0123456789abcdef"[b >> 4];
    out += "0123456789abcdef"[b & 0xF];
  }
  return out;
}

TEST(Md5, MatchesTheRfcTestSuite) {
  const std::string abc = "abc";
  EXPECT_EQ(hex(md5Digest({})), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex(md5Digest(std::span(reinterpret_cast<const std::uint8_t*>(abc.data()), 3))),
            "900150983cd24fb0d6963f7d28e17f72");
}

TEST(ScrambleKxkBody, UsesTheKeyBytesInTurnAtEveryLength) {
  std::vector<std::uint8_t> seven(7, 0);
  scrambleKxkBody(seven);
  EXPECT_EQ(text(seven), "KXKKXKK");
  // Lengths around the 48-byte blocks match a byte-by-byte XOR and undo themselves.
  for (std::size_t n : {0u, 1u, 47u, 48u, 49u, 100u, 145u}) {
    std::vector<std::uint8_t> body(n);
    for (std::size_t i = 0; i < n; ++i) {
      body[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::vector<std::uint8_t> scrambled = body;
    scrambleKxkBody(scrambled);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(scrambled[i], body[i] ^ "KXK"[i % 3]) << n << " at " << i;
    }
    scrambleKxkBody(scrambled);
    EXPECT_EQ(scrambled, body);
  }
}

TEST_F(KxkFileTest, LoadsEachTypeAndRemovesItsPrefix) {
  struct Case {
    const char* label;
    std::uint8_t type;
    std::vector<std::uint8_t> prefix;
    std::uint32_t versionWord;
    std::uint32_t modelNumber;
    std::string modelName;
    std::string regionName;
  };
  const std::vector<Case> cases = {
      {"model block", 0, modelPrefix(0x01020304, "LA26CKN9AR1"), 0x0003'0152, 0x01020304,
       "LA26CKN9AR1", ""},
      {"20-byte model name", 0, modelPrefix(7, std::string(20, 'M')), 0x0003'0152, 7,
       std::string(20, 'M'), ""},
      {"codeplug version", 1, {'R', 1, 4, 0}, 0x0004'0152, 0, "", ""},
      {"codeplug version, type 2", 2, {'S', 2, 0, 9}, 0x0900'0253, 0, "", ""},
      {"region", 3, regionPrefix("LACR"), 0x0003'0152, 0, "", "LACR"},
      {"10-byte region", 3, regionPrefix("ABCDEFGHIJ"), 0x0003'0152, 0, "", "ABCDEFGHIJ"},
      {"other type keeps its prefix", 5, {}, 0x0003'0152, 0, "", ""},
  };
  KxkFile file;  // reused, as the update reuses it
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    KxkBytes kxk;
    kxk.type = c.type;
    kxk.prefix = c.prefix;
    kxk.name = "N\xE9";  // Latin-1 e-acute
    kxk.body = "plain body text";
    kxk.trailer = {1, 2, 3};  // after the payload: covered by the digest, otherwise ignored
    ASSERT_TRUE(loadKxkFile(kxk.build(), "f.kxk", file));
    EXPECT_EQ(text(file.payload), "plain body text");
    EXPECT_EQ(file.payloadLength(), 15u);
    EXPECT_EQ(file.type, c.type);
    EXPECT_EQ(file.versionText, "R01.03");
    EXPECT_EQ(file.versionWord, c.versionWord);
    EXPECT_EQ(file.internalName, "N\xC3\xA9");
    EXPECT_EQ(file.modelNumber, c.modelNumber);
    EXPECT_EQ(file.modelName, c.modelName);
    EXPECT_EQ(file.regionName, c.regionName);
  }
  EXPECT_TRUE(testing::errorLines().empty());
}

TEST_F(KxkFileTest, RefusesDamagedFilesWithOneLineAndEmptiesTheResult) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> bytes;
    const char* line;
  };
  auto kxk = [](auto change) {
    KxkBytes k;
    change(k);
    return k.build();
  };
  std::vector<std::uint8_t> badSignature = KxkBytes{}.build();
  badSignature[3] = 1;
  std::vector<std::uint8_t> badDigest = KxkBytes{}.build();
  badDigest.back() ^= 1;
  std::vector<std::uint8_t> nameOutside = KxkBytes{}.build();
  nameOutside[33] = 200;  // the name would run past the end of the file
  const Md5Digest fixed = md5Digest(std::span(nameOutside).subspan(24));
  std::copy(fixed.begin(), fixed.end(), nameOutside.begin() + 8);

  const char* invalid = "7:Error:invalid file [f.kxk].";
  const std::vector<Case> cases = {
      {"empty", {}, invalid},
      {"shorter than the header", std::vector<std::uint8_t>(33, 0), invalid},
      {"name past the end", nameOutside, invalid},
      {"signature", badSignature, "7:Error:invalid signature for file [f.kxk]."},
      {"digest", badDigest, invalid},
      {"payload one byte longer than the file",
       kxk([](KxkBytes& k) { k.declaredLength = 1 + 4 + 4; }), invalid},
      {"payload length near 2^32", kxk([](KxkBytes& k) { k.declaredLength = 0xFFFFFFFFll; }),
       invalid},
      {"model name of 21 bytes", kxk([](KxkBytes& k) {
         k.type = 0;
         k.prefix = modelPrefix(1, std::string(21, 'M'));
       }),
       "7:Error:the model name is tool long for [f.kxk]."},
      {"region name of 11 bytes", kxk([](KxkBytes& k) {
         k.type = 3;
         k.prefix = regionPrefix("ABCDEFGHIJK");
       }),
       "7:Error:the region name is too long for [f.kxk]."},
      // Prefixes that do not fit the declared payload would leave a negative body length.
      {"type 0 payload shorter than its fixed prefix", kxk([](KxkBytes& k) {
         k.type = 0;
         k.prefix = {1, 2, 3};
         k.body = "";
       }),
       invalid},
      {"type 0 payload shorter than its model name", kxk([](KxkBytes& k) {
         k.type = 0;
         k.prefix = modelPrefix(1, "AB", 9);
         k.body = "";
         k.trailer = std::vector<std::uint8_t>(20, 0);
       }),
       invalid},
      {"type 1 payload of 3 bytes", kxk([](KxkBytes& k) {
         k.type = 1;
         k.prefix = {'R', 1, 2};
         k.body = "";
       }),
       invalid},
      {"type 3 empty payload", kxk([](KxkBytes& k) {
         k.type = 3;
         k.prefix = {};
         k.body = "";
       }),
       invalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    removeErrors(ErrorCategory::OK);
    KxkFile file;
    ASSERT_TRUE(loadKxkFile(KxkBytes{}.build(), "f.kxk", file));
    EXPECT_FALSE(loadKxkFile(c.bytes, "f.kxk", file));
    EXPECT_EQ(testing::errorLines(), std::vector<std::string>{c.line});
    EXPECT_TRUE(file.payload.empty());
    EXPECT_EQ(file.payloadLength(), 0u);
    EXPECT_EQ(file.versionText, "");
    EXPECT_EQ(file.internalName, "");
  }
}

TEST_F(KxkFileTest, PayloadFillingTheFileExactlyLoads) {
  KxkBytes kxk;
  kxk.declaredLength = 4 + 4;  // the 4-byte prefix and the 4-byte body, nothing after
  KxkFile file;
  ASSERT_TRUE(loadKxkFile(kxk.build(), "f.kxk", file));
  EXPECT_EQ(text(file.payload), "body");
}

TEST_F(KxkFileTest, ReadsFilesAndReportsPathsAsGiven) {
  testing::TempFolder folder;
  KxkBytes kxk;
  kxk.body = std::string(5000, 'x');
  {
    std::ofstream out(folder / "big.kxk", std::ios::binary);
    const auto bytes = kxk.build();
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }
  KxkFile file;
  ASSERT_TRUE(loadKxkFile(folder / "big.kxk", file));
  EXPECT_EQ(file.payloadLength(), 5000u);

  EXPECT_FALSE(loadKxkFile(std::filesystem::path(), file));
  EXPECT_TRUE(testing::errorLines().empty());

  const std::filesystem::path missing = folder / "missing.kxk";
  EXPECT_FALSE(loadKxkFile(missing, file));
  EXPECT_FALSE(loadKxkFile(folder.path(), file));  // a folder is not a file to open
  EXPECT_EQ(
      testing::errorLines(),
      (std::vector<std::string>{"1:Error:failed to open file [" + missing.string() + "].",
                                "1:Error:failed to open file [" + folder.path().string() + "]."}));
  EXPECT_EQ(file.payloadLength(), 0u);
}

// No container holds more than a 2 MiB image with its header: a larger file is refused before
// it is read, whether on disk or in memory.
TEST_F(KxkFileTest, FileLargerThanAnyContainerIsRefusedUnread) {
  testing::TempFolder folder;
  const std::filesystem::path huge = folder / "huge.kxk";
  std::ofstream(huge).put('K');
  std::filesystem::resize_file(huge, std::uintmax_t{1} << 30);  // sparse: nothing to write
  KxkFile file;
  EXPECT_FALSE(loadKxkFile(huge, file));
  EXPECT_EQ(testing::errorLines(), std::vector<std::string>{"7:Error:the file [" + huge.string() +
                                                            "] is too large for a package file."});
  EXPECT_TRUE(file.payload.empty());

  removeErrors(ErrorCategory::OK);
  std::vector<std::uint8_t> bytes = KxkBytes{}.build();
  EXPECT_TRUE(loadKxkFile(bytes, "f.kxk", file));
  bytes.resize(kMaxKxkFileSize + 1);
  EXPECT_FALSE(loadKxkFile(bytes, "f.kxk", file));
  EXPECT_EQ(testing::errorLines(),
            std::vector<std::string>{"7:Error:the file [f.kxk] is too large for a package file."});
}

}  // namespace
}  // namespace orvik
