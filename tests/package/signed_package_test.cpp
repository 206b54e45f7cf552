#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "base/text.h"
#include "package/minisign.h"
#include "package/signed_package.h"
#include "tests/package/temp_folder.h"

namespace orvik {
namespace {

using testing::TempFolder;

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void writeText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The key checksum's hash: RFC 7693's "abc", the empty input, and more than one block
// (checked with b2sum -l 256).
TEST(MinisignTest, Blake2b256MatchesKnownDigests) {
  EXPECT_EQ(hexText(blake2b256Digest(bytesOf("abc"))),
            "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
  EXPECT_EQ(hexText(blake2b256Digest({})),
            "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8");
  std::vector<std::uint8_t> counting(200);
  for (std::size_t i = 0; i < counting.size(); ++i) {
    counting[i] = static_cast<std::uint8_t>(i);
  }
  EXPECT_EQ(hexText(blake2b256Digest(counting)),
            "63c3d97a9f8894d5e043a707b0fee7f7ec4c049a23bbf1079df20b4165f9e22d");
}

// A key pair survives its files, and a signature its file; a change of any signed byte, of
// the trusted comment or of the key is caught.
TEST(MinisignTest, KeysAndSignaturesRoundTripAndCatchChanges) {
  const auto key = generateSecretKey();
  ASSERT_TRUE(key);
  std::string problem;
  const auto secret = parseSecretKey(formatSecretKey(*key), problem);
  ASSERT_TRUE(secret) << problem;
  EXPECT_EQ(secret->seed, key->seed);
  const auto publicKey = parsePublicKey(formatPublicKey(publicKeyOf(*key)), problem);
  ASSERT_TRUE(publicKey) << problem;
  EXPECT_EQ(publicKey->id, key->id);

  const std::string message = "0123  config.xml\n";
  const auto made = signMessage(*secret, bytesOf(message), "region LACR");
  ASSERT_TRUE(made);
  const auto signature = parseSignature(formatSignature(*made), problem);
  ASSERT_TRUE(signature) << problem;
  EXPECT_EQ(signature->trustedComment, "region LACR");
  EXPECT_EQ(verifySignature(*publicKey, *signature, bytesOf(message)), SignatureCheck::Good);
  EXPECT_EQ(verifySignature(*publicKey, *signature, bytesOf("1123  config.xml\n")),
            SignatureCheck::BadSignature);
  MinisignSignature commentChanged = *signature;
  commentChanged.trustedComment = "region LACX";
  EXPECT_EQ(verifySignature(*publicKey, commentChanged, bytesOf(message)),
            SignatureCheck::BadTrustedComment);
  const auto other = generateSecretKey();
  ASSERT_TRUE(other);
  EXPECT_EQ(verifySignature(publicKeyOf(*other), *signature, bytesOf(message)),
            SignatureCheck::BadSignature);
}

// Secret keys the tool cannot or must not use are refused, saying why.
TEST(MinisignTest, UnusableSecretKeysAreRefusedWithTheReason) {
  const auto key = generateSecretKey();
  ASSERT_TRUE(key);
  const std::string text = formatSecretKey(*key);
  const std::size_t lineStart = text.find('\n') + 1;
  auto bytes = *base64Decode(text.substr(lineStart, text.size() - lineStart - 1));
  const auto withBytes = [&](std::vector<std::uint8_t> changed) {
    return text.substr(0, lineStart) + base64Encode(changed) + "\n";
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> change;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"a password (scrypt)", [](auto& b) { b[2] = 'S', b[3] = 'c'; }, "password"},
      {"a damaged seed", [](auto& b) { b[60] ^= 1; }, "checksum"},
      {"a damaged checksum", [](auto& b) { b[150] ^= 1; }, "checksum"},
      {"another algorithm", [](auto& b) { b[0] = 'X'; }, "not an Ed25519"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> changed = bytes;
    c.change(changed);
    std::string problem;
    EXPECT_FALSE(parseSecretKey(withBytes(changed), problem)) << c.what;
    EXPECT_NE(problem.find(c.reason), std::string::npos) << c.what << ": " << problem;
  }
  std::string problem;
  EXPECT_FALSE(parseSecretKey("untrusted comment: x\nnot base64!\n", problem));
  EXPECT_FALSE(parsePublicKey("RWQ=\n", problem));
}

TEST(SignedPackageTest, ManifestTakesSha256sumOutputOnly) {
  const std::string digest(64, 'a');
  std::string problem;
  const auto good = parseManifest(digest + "  config.xml\n" + digest + " *fw.kxk\r\n", problem);
  ASSERT_TRUE(good) << problem;
  ASSERT_EQ(good->size(), 2u);
  EXPECT_EQ((*good)[1].name, "fw.kxk");
  EXPECT_EQ(formatManifest(*good), digest + "  config.xml\n" + digest + "  fw.kxk\n");
  for (const std::string& bad :
       {digest + "  ../config.xml\n", digest + "  sub/fw.kxk\n", digest + " fw.kxk\n",
        std::string(63, 'a') + "g  fw.kxk\n", digest + "  fw.kxk\n" + digest + "  fw.kxk\n",
        std::string("\n")}) {
    EXPECT_FALSE(parseManifest(bad, problem)) << bad;
  }
}

// Reading never follows a link or waits on a pipe, and keeps to the size bound.
TEST(SignedPackageTest, PlainReadRefusesLinksPipesAndHugeFiles) {
  TempFolder folder;
  writeText(folder / "file", "12345");
  std::filesystem::create_symlink(folder / "file", folder / "link");
  ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(readPlainFile(folder / "file", 5, bytes), PlainRead::Ok);
  EXPECT_EQ(bytes.size(), 5u);
  EXPECT_EQ(readPlainFile(folder / "file", 4, bytes), PlainRead::TooLarge);
  EXPECT_EQ(readPlainFile(folder / "link", 5, bytes), PlainRead::SymbolicLink);
  EXPECT_EQ(readPlainFile(folder / "pipe", 5, bytes), PlainRead::NotRegular);
  EXPECT_EQ(readPlainFile(folder / "none", 5, bytes), PlainRead::Missing);
}

// Only .pub files directly in the folders count; one that is no key is named and skipped.
TEST(SignedPackageTest, TrustedKeysComeFromPubFiles) {
  TempFolder a;
  TempFolder b;
  const auto key = generateSecretKey();
  ASSERT_TRUE(key);
  writeText(a / "vendor.pub", formatPublicKey(publicKeyOf(*key)));
  writeText(a / "vendor.key", formatSecretKey(*key));
  writeText(b / "broken.pub", "untrusted comment: x\nRWQ=\n");
  std::vector<std::string> problems;
  const auto keys = loadTrustedKeys({a.path(), b.path(), a / "missing"}, problems);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].key.id, key->id);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("broken.pub"), std::string::npos);
}

}  // namespace
}  // namespace orvik
