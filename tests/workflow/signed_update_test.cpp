// A package signed by a trusted key is used only as its vendor signed it: any change, a file
// missing, a file not listed, a link or another signer stops every action at the radio's
// identity, with string 112 and what failed.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "errors/error_log.h"
#include "pack/package_signing.h"
#include "package/signed_package.h"
#include "tests/workflow/workflow_fixture.h"

namespace orvik {
namespace {

using testing::Bench;

struct SigningKey {
  MinisignSecretKey secret;
  std::filesystem::path file;
};

SigningKey makeKey(const std::filesystem::path& file) {
  const auto key = generateSecretKey();
  EXPECT_TRUE(key);
  std::ofstream(file) << formatSecretKey(*key);
  return {*key, file};
}

void sign(const std::filesystem::path& folder, const SigningKey& key) {
  std::ostringstream out;
  std::string error;
  ASSERT_TRUE(signPackageFolder(folder, key.file, "region LACR", out, error)) << error;
}

void flipByte(const std::filesystem::path& file, std::size_t offsetFromEnd = 1) {
  std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
  stream.seekg(-static_cast<std::streamoff>(offsetFromEnd), std::ios::end);
  const char c = static_cast<char>(stream.get());
  stream.seekp(-static_cast<std::streamoff>(offsetFromEnd), std::ios::end);
  stream.put(static_cast<char>(c ^ 0x01));
}

void editLine(const std::filesystem::path& file, int line,
              const std::function<void(std::string&)>& edit) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string text; std::getline(in, text);) {
    lines.push_back(text);
  }
  edit(lines.at(static_cast<std::size_t>(line)));
  std::ofstream out(file, std::ios::trunc);
  for (const std::string& text : lines) {
    out << text << '\n';
  }
}

// The kinds of request that reading a radio's identity sends, from a plain Get Radio Info.
std::set<RequestKind> identityRequestKinds() {
  Bench bench;
  bench.controller.onGetRadioInfo();
  std::set<RequestKind> kinds;
  for (const LoggedRequest& request : bench.radio.requests()) {
    kinds.insert(request.kind);
  }
  return kinds;
}

// One bench whose package is signed by the vendor's key.
struct SignedBench {
  SignedBench() : key(makeKey(bench.folder / "vendor.key")) { sign(bench.dataDir(), key); }
  ~SignedBench() { holdVerifiedPackage(nullptr); }

  // What a start of the tool does: the package checked against the keys, a verified one held.
  std::shared_ptr<const PackageTrust> check(std::vector<MinisignPublicKey> trusted) {
    std::vector<TrustedKey> keys;
    for (const MinisignPublicKey& publicKey : trusted) {
      keys.push_back(TrustedKey{publicKey, "vendor.pub"});
    }
    auto trust = std::make_shared<const PackageTrust>(checkPackage(bench.dataDir(), keys));
    holdVerifiedPackage(trust->state == PackageTrust::State::Verified ? trust : nullptr);
    bench.controller.setPackageTrust(trust);
    return trust;
  }
  std::shared_ptr<const PackageTrust> check() { return check({publicKeyOf(key.secret)}); }

  // Every request the radio received reads its identity, and there was one.
  bool onlyIdentityRequested(const std::set<RequestKind>& identity) const {
    const auto requests = bench.radio.requests();
    for (const LoggedRequest& request : requests) {
      if (!identity.contains(request.kind)) {
        return false;
      }
    }
    return !requests.empty();
  }

  std::string refusal(const std::string& line) const {
    return std::string(testing::kFileMissing) + "\n\nThe update package in " +
           bench.dataDir().string() + " is refused: " + line + ".";
  }

  Bench bench;
  SigningKey key;
};

TEST(SignedUpdateTest, TheSignedPackageUpdatesTheRadio) {
  SignedBench signedBench;
  const auto trust = signedBench.check();
  EXPECT_EQ(trust->state, PackageTrust::State::Verified) << trust->failure;
  EXPECT_EQ(trust->signerText(),
            "signed by key " + keyIdText(signedBench.key.secret.id) + " (\"region LACR\")");
  signedBench.bench.view.answers = {kAnswerYes};  // the go-ahead
  signedBench.bench.controller.onUpdate();
  EXPECT_EQ(signedBench.bench.view.results().back().text, testing::kUpdated);
  EXPECT_TRUE(signedBench.bench.firmwareProgrammed());
}

// The bytes checked are the bytes programmed: a container replaced on disk after the check is
// never read again.
TEST(SignedUpdateTest, AFileReplacedAfterTheCheckIsNeverUsed) {
  SignedBench signedBench;
  Bench& bench = signedBench.bench;
  ASSERT_EQ(signedBench.check()->state, PackageTrust::State::Verified);
  std::ofstream(bench.firmwareContainer(), std::ios::binary | std::ios::trunc) << "swapped";
  std::filesystem::remove(bench.dataDir() / "def3.kxk");
  std::filesystem::create_symlink("/dev/zero", bench.dataDir() / "def3.kxk");
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  EXPECT_EQ(bench.view.results().back().text, testing::kUpdated);
  EXPECT_TRUE(bench.firmwareProgrammed());
  EXPECT_TRUE(bench.codeplugProgrammed());
}

TEST(SignedUpdateTest, EveryChangeIsRefusedBeforeAnythingButTheIdentityIsSent) {
  struct Case {
    const char* what;
    std::function<void(SignedBench&, const std::filesystem::path&)> tamper;
    std::function<std::string(const SignedBench&)> line;
  };
  const auto fixed = [](std::string text) { return [text](const SignedBench&) { return text; }; };
  using Path = std::filesystem::path;
  const std::vector<Case> cases = {
      {"config.xml", [](SignedBench&, const Path& d) { flipByte(d / "config.xml"); },
       fixed("config.xml changed")},
      {"firmware", [](SignedBench&, const Path& d) { flipByte(d / "firmware.kxk", 100); },
       fixed("firmware.kxk changed")},
      {"codeplug", [](SignedBench&, const Path& d) { flipByte(d / "def3.kxk"); },
       fixed("def3.kxk changed")},
      {"address map", [](SignedBench&, const Path& d) { flipByte(d / "addr1.kxk"); },
       fixed("addr1.kxk changed")},
      {"manifest", [](SignedBench&, const Path& d) { flipByte(d / "SHA256SUMS", 5); },
       fixed("bad signature")},
      {"trusted comment",
       [](SignedBench&, const Path& d) {
         editLine(d / "SHA256SUMS.minisig", 2, [](std::string& l) { l += "X"; });
       },
       fixed("bad signature of the trusted comment")},
      {"signature",
       [](SignedBench&, const Path& d) {
         editLine(d / "SHA256SUMS.minisig", 1,
                  [](std::string& l) { l[40] = l[40] == 'A' ? 'B' : 'A'; });
       },
       fixed("bad signature")},
      {"untrusted signer",
       [](SignedBench& b, const Path& d) { sign(d, makeKey(b.bench.folder / "other.key")); },
       [](const SignedBench& b) {
         std::ifstream in(b.bench.folder / "other.key");
         std::stringstream text;
         text << in.rdbuf();
         std::string problem;
         return "signed by an unknown key " + keyIdText(parseSecretKey(text.str(), problem)->id);
       }},
      {"listed file missing",
       [](SignedBench&, const Path& d) { std::filesystem::remove(d / "addr2.kxk"); },
       fixed("addr2.kxk missing")},
      {"file read but not listed",
       [](SignedBench& b, const Path& d) {
         std::filesystem::rename(d / "firmware.kxk", b.bench.folder / "firmware.kxk");
         sign(d, b.key);
         std::filesystem::rename(b.bench.folder / "firmware.kxk", d / "firmware.kxk");
       },
       fixed("firmware.kxk not listed")},
      {"symbolic link",
       [](SignedBench& b, const Path& d) {
         std::filesystem::rename(d / "def4.kxk", b.bench.folder / "def4.kxk");
         std::filesystem::create_symlink(b.bench.folder / "def4.kxk", d / "def4.kxk");
       },
       fixed("def4.kxk is a symbolic link")},
      {"not signed",
       [](SignedBench&, const Path& d) { std::filesystem::remove(d / "SHA256SUMS.minisig"); },
       fixed("not signed")},
  };
  const std::set<RequestKind> identity = identityRequestKinds();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SignedBench signedBench;
    Bench& bench = signedBench.bench;
    c.tamper(signedBench, bench.dataDir());
    const auto trust = signedBench.check();
    const std::string line = c.line(signedBench);
    EXPECT_EQ(trust->failure, line);
    bench.controller.onUpdate();
    ASSERT_FALSE(bench.view.results().empty());
    EXPECT_EQ(bench.view.results().back().text.rfind(signedBench.refusal(line), 0), 0u)
        << bench.view.results().back().text;
    EXPECT_EQ(bench.view.results().back().style, kStyleError);
    EXPECT_TRUE(signedBench.onlyIdentityRequested(identity));
    EXPECT_FALSE(bench.firmwareProgrammed());
    const auto log = testing::logLines(bench.logText());
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "Error:the update package [" + bench.dataDir().string() +
                            "] is refused: " + line + "."),
              log.end());
  }
}

// Get Radio Information still shows the radio, and a personality is not restored from a
// refused package's address map.
TEST(SignedUpdateTest, InformationAndRestoreAreRefusedToo) {
  const std::set<RequestKind> identity = identityRequestKinds();
  SignedBench signedBench;
  Bench& bench = signedBench.bench;
  flipByte(bench.dataDir() / "addr1.kxk");
  signedBench.check();
  bench.controller.onGetRadioInfo();
  EXPECT_EQ(bench.view.results().back().text.rfind(signedBench.refusal("addr1.kxk changed"), 0),
            0u);
  EXPECT_EQ(bench.view.panel.serialNumber, bench.radioSerial());

  bench.view.messages.clear();
  bench.view.answers = {kAnswerYes};  // the question before a restore
  bench.controller.onRestorePersonality(bench.folder / "any.orvp");
  EXPECT_EQ(bench.view.results().back().text.rfind(signedBench.refusal("addr1.kxk changed"), 0),
            0u);
  EXPECT_TRUE(signedBench.onlyIdentityRequested(identity));
}

// With no trusted key the tool works as before, signed package or not.
TEST(SignedUpdateTest, WithoutATrustedKeyThePackageIsUsedAsItIs) {
  SignedBench signedBench;
  Bench& bench = signedBench.bench;
  flipByte(bench.dataDir() / "SHA256SUMS", 5);
  const auto trust = signedBench.check({});
  EXPECT_EQ(trust->state, PackageTrust::State::NoKeySigned);
  EXPECT_NE(unsignedPackageNotice(*trust).find("not checked"), std::string::npos);
  std::filesystem::remove(bench.dataDir() / "SHA256SUMS.minisig");
  const auto unsignedTrust = signedBench.check({});
  EXPECT_EQ(unsignedTrust->signerText(), "not signed");
  EXPECT_NE(unsignedPackageNotice(*unsignedTrust).find("is not signed"), std::string::npos);
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  EXPECT_EQ(bench.view.results().back().text, testing::kUpdated);
}

}  // namespace
}  // namespace orvik
