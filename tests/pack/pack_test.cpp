#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "codeplug/cpg.h"
#include "config/scramble.h"
#include "pack/demo_package.h"
#include "pack/image_builder.h"
#include "pack/kxk_builder.h"
#include "pack/pack_cli.h"
#include "pack/srec_writer.h"
#include "package/flash.h"
#include "package/kxk_file.h"
#include "package/kxk_header.h"
#include "package/package_catalogue.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using PackTest = testing::ErrorTextTest;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

std::vector<std::uint8_t> counting(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 256);
  }
  return bytes;
}

struct PackRun {
  int code;
  std::string out;
  std::string err;
};

PackRun pack(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = runPack(args, out, err);
  return {code, out.str(), err.str()};
}

TEST_F(PackTest, ContainersOfEveryTypeLoadThroughBothReaders) {
  struct Case {
    std::int32_t type;
    std::string modelName;
    std::string region;
  };
  for (const Case& c : std::vector<Case>{{0, "LA26CKN9AR1", ""},
                                         {1, "", ""},
                                         {2, "", ""},
                                         {3, "", "LACR"},
                                         {0, std::string(20, 'M'), ""},
                                         {3, "", "ABCDEFGHIJ"}}) {
    SCOPED_TRACE(c.type);
    KxkContents contents;
    contents.type = c.type;
    contents.version = {'R', 1, 3, 7};
    contents.internalName = "INTERNAL";
    contents.modelNumber = 0xA1B2C3D4;
    contents.modelName = c.modelName;
    contents.codeplugVersion = {'R', 1, 4, 0};
    contents.regionName = c.region;
    contents.body = counting(1000);
    std::string error;
    const auto bytes = buildKxkFile(contents, error);
    ASSERT_TRUE(bytes) << error;

    KxkFile file;
    ASSERT_TRUE(loadKxkFile(*bytes, "f", file));
    EXPECT_EQ(file.payload, contents.body);
    EXPECT_EQ(file.internalName, "INTERNAL");
    EXPECT_EQ(file.versionText, "R01.03");
    EXPECT_EQ(file.type, c.type);
    KxkHeaderInfo info;
    ASSERT_TRUE(readKxkHeader(*bytes, "f", &info));
    EXPECT_EQ(info.payloadLength, 1000u);
    EXPECT_EQ(info.internalName, "INTERNAL");
    if (c.type == 0) {
      EXPECT_EQ(file.modelNumber, 0xA1B2C3D4u);
      EXPECT_EQ(file.modelName, c.modelName);
      EXPECT_EQ(info.modelName, c.modelName.substr(0, 11));
    } else if (c.type == 3) {
      EXPECT_EQ(file.regionName, c.region);
      EXPECT_EQ(info.regionName, c.region);
    } else {
      EXPECT_EQ(file.versionWord, packVersionWord({'R', 1, 4, 0}));
      EXPECT_EQ(info.prefixNumber, file.versionWord);
    }
  }
  EXPECT_TRUE(testing::errorLines().empty());
}

TEST_F(PackTest, BuilderRefusesWhatTheToolWouldRefuse) {
  auto refused = [](auto change) {
    KxkContents contents;
    contents.internalName = "N";
    change(contents);
    std::string error;
    return !buildKxkFile(contents, error) && !error.empty();
  };
  EXPECT_TRUE(refused([](KxkContents& c) { c.type = 4; }));
  EXPECT_TRUE(refused([](KxkContents& c) { c.internalName = ""; }));
  EXPECT_TRUE(refused([](KxkContents& c) { c.internalName = std::string(256, 'n'); }));
  EXPECT_TRUE(refused([](KxkContents& c) { c.modelName = std::string(21, 'm'); }));
  EXPECT_TRUE(refused([](KxkContents& c) {
    c.type = 3;
    c.regionName = "ABCDEFGHIJK";
  }));
}

TEST(PackVersionText, ParsesLetterAndThreeNumbers) {
  const auto version = parsePackVersion("S01.04.255");
  ASSERT_TRUE(version);
  EXPECT_EQ(packVersionText(*version), "S01.04.255");
  EXPECT_EQ(packVersionWord(*version), 0xFF040153u);
  for (const char* bad : {"", "R01.04", "101.04.00", "R01.04.00x", "R01.04.256", "R01..00"}) {
    EXPECT_FALSE(parsePackVersion(bad)) << bad;
  }
}

TEST_F(PackTest, ImagesKeepEveryByteThroughTheImageWalk) {
  for (std::size_t size : {1u, 8u, 65536u, 300001u}) {
    SCOPED_TRACE(size);
    const std::vector<std::uint8_t> binary = counting(size);
    ImageOptions options;
    options.headerValue = 0x01020304;
    options.tableEntries = {0x10000, 0x20000};
    std::string error;
    const auto image = buildFirmwareImage(binary, options, error);
    ASSERT_TRUE(image) << error;
    Flash flash;
    ASSERT_TRUE(flash.loadImage(*image));
    EXPECT_EQ(flash.imageLength(), image->size());
    const ImageLayout& layout = flash.layout();
    EXPECT_EQ(layout.headerValue, 0x01020304u);
    EXPECT_EQ(layout.tableCount, 2);
    ASSERT_EQ(layout.sectionCount, (size + 0xFFFF) / 0x10000);
    // The sections carry the binary in order.
    std::vector<std::uint8_t> joined;
    for (std::size_t i = 0; i < layout.sectionCount; ++i) {
      const auto start = image->begin() + layout.sectionStarts[i];
      joined.insert(joined.end(), start, start + 2 * layout.sectionSizes[i]);
    }
    ASSERT_GE(joined.size(), size);
    EXPECT_TRUE(std::equal(binary.begin(), binary.end(), joined.begin()));
  }
}

TEST_F(PackTest, ImageBuilderRefusesWhatDoesNotFit) {
  std::string error;
  ImageOptions small;
  small.sectionBytes = 8;
  EXPECT_FALSE(buildFirmwareImage(counting(61 * 8), small, error));  // 61 sections
  EXPECT_TRUE(buildFirmwareImage(counting(60 * 8), small, error));
  ImageOptions large;
  large.sectionBytes = kMaxSectionBytes;
  EXPECT_FALSE(buildFirmwareImage(counting(0x200000), large, error));  // headers push it over
  EXPECT_FALSE(buildFirmwareImage({}, ImageOptions{}, error));
  large.sectionBytes = kMaxSectionBytes + 8;
  EXPECT_FALSE(buildFirmwareImage(counting(16), large, error));
}

TEST_F(PackTest, SrecordStreamsFillTheBlocksTheyAddress) {
  struct Case {
    std::uint32_t start;
    int addressBytes;
    std::size_t recordBytes;
    const char* firstRecordType;
  };
  for (const Case& c : std::vector<Case>{{0x844000, 0, 32, "S2"},
                                         {0x844000, 4, 250, "S3"},
                                         {0x844000, 3, 1, "S2"},
                                         {0xF000, 0, 16, "S1"},
                                         {0xFFF8, 0, 16, "S2"}}) {
    SCOPED_TRACE(c.start);
    const std::vector<std::uint8_t> binary = counting(0x300);
    SrecOptions options;
    options.startAddress = c.start;
    options.addressBytes = c.addressBytes;
    options.bytesPerRecord = c.recordBytes;
    options.header = "demo";
    std::string error;
    const auto text = writeSrec(binary, options, error);
    ASSERT_TRUE(text) << error;
    EXPECT_EQ(text->substr(text->find('\n') + 1, 2), c.firstRecordType);

    Cpg cpg;
    ASSERT_TRUE(cpg.parseAddressMap("DEF_BLK ADDRESS " + formatText("%X", c.start) + " BSIZE 400"));
    ASSERT_TRUE(cpg.parseCodeplugStream(*text));
    const auto& def = cpg.block(DEF).data;
    EXPECT_TRUE(std::equal(binary.begin(), binary.end(), def.begin()));
    EXPECT_TRUE(std::all_of(def.begin() + 0x300, def.end(), [](std::uint8_t b) { return b == 0; }));
  }
  std::string error;
  SrecOptions tooNarrow;
  tooNarrow.startAddress = 0x10000;
  tooNarrow.addressBytes = 2;
  EXPECT_FALSE(writeSrec(counting(4), tooNarrow, error));
  SrecOptions tooLong;
  tooLong.addressBytes = 4;
  tooLong.bytesPerRecord = 251;
  EXPECT_FALSE(writeSrec(counting(4), tooLong, error));
}

TEST_F(PackTest, CommandsRoundTripThroughFiles) {
  testing::TempFolder folder;
  const std::vector<std::uint8_t> binary = counting(5000);
  writeAll(folder / "bin", binary);
  writeAll(folder / "plain.xml", bytesOf("<setup id=\"LACR\" name=\"LACR\"/>"));

  ASSERT_EQ(pack({"image", (folder / "bin").string(), (folder / "img").string(), "--header-value",
                  "0x10300", "--table-entry", "10000"})
                .code,
            kPackOk);
  ASSERT_EQ(pack({"kxk", (folder / "img").string(), (folder / "fw.kxk").string(), "-t", "3", "-v",
                  "R01.03.00", "-n", "LACR_FW", "--region", "LACR"})
                .code,
            kPackOk);
  KxkFile file;
  ASSERT_TRUE(loadKxkFile(folder / "fw.kxk", file));
  EXPECT_EQ(file.regionName, "LACR");
  Flash flash;
  ASSERT_TRUE(flash.loadImage(file.payload));
  EXPECT_EQ(flash.layout().headerValue, 0x10300u);

  ASSERT_EQ(
      pack({"srec", (folder / "bin").string(), (folder / "s").string(), "--start", "844000"}).code,
      kPackOk);
  ASSERT_EQ(pack({"kxk", (folder / "s").string(), (folder / "def.kxk").string(), "--type", "0",
                  "--version", "R01.04.00", "--name", "MDEFR01.04.00", "--model-number", "0x10",
                  "--model-name", "M"})
                .code,
            kPackOk);
  ASSERT_TRUE(loadKxkFile(folder / "def.kxk", file));
  EXPECT_EQ(file.modelNumber, 0x10u);
  Cpg cpg;
  ASSERT_TRUE(cpg.parseAddressMap("DEF_BLK ADDRESS = 844000"));
  ASSERT_TRUE(cpg.parseCodeplugStream(file.payload));
  EXPECT_TRUE(std::equal(binary.begin(), binary.end(), cpg.block(DEF).data.begin()));

  ASSERT_EQ(
      pack({"scramble", (folder / "plain.xml").string(), (folder / "setup.dat").string()}).code,
      kPackOk);
  const std::vector<std::uint8_t> scrambled = readAll(folder / "setup.dat");
  ASSERT_GE(scrambled.size(), 4u);
  EXPECT_EQ(scrambled[0], '<' ^ 'Q');
  EXPECT_EQ(scrambled[3], 't' ^ 'K');
  ASSERT_EQ(
      pack({"unscramble", (folder / "setup.dat").string(), (folder / "back.xml").string()}).code,
      kPackOk);
  EXPECT_EQ(readAll(folder / "back.xml"), readAll(folder / "plain.xml"));
}

TEST(PackCommandLine, ReportsUsageAndFailuresByExitCode) {
  const PackRun help = pack({"--help"});
  EXPECT_EQ(help.code, kPackOk);
  EXPECT_NE(help.out.find("inspect"), std::string::npos);
  EXPECT_NE(help.out.find("Exit codes"), std::string::npos);

  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{}, kPackUsage, "subcommand"},
      {{"frobnicate"}, kPackUsage, "subcommand"},
      {{"kxk", "a"}, kPackUsage, "required"},
      {{"kxk", "/nonexistent/body", "out", "-t", "1", "-v", "R01.00.00", "-n", "N"},
       kPackFailed,
       "cannot open /nonexistent/body"},
      {{"kxk", "/dev/null", "out", "-t", "1", "-v", "1.0.0", "-n", "N"},
       kPackFailed,
       "--version must look like R01.03.00"},
      {{"srec", "/dev/null", "out", "--start", "84400G"}, kPackFailed, "--start"},
      {{"inspect", "/nonexistent/folder"}, kPackFailed, ""},
  };
  for (const Case& c : cases) {
    const PackRun run = pack(c.args);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_NE((run.err + run.out).find(c.message), std::string::npos) << run.err << run.out;
  }
}

class DemoPackage : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    testing::ErrorTextTest::SetUp();
    ASSERT_EQ(pack({"demo", (folder_ / "data").string()}).code, kPackOk);
  }
  std::filesystem::path data() const { return folder_ / "data"; }
  std::string decoded(const std::filesystem::path& path) const {
    std::vector<std::uint8_t> bytes = readAll(path);
    Scramble(bytes);
    return {bytes.begin(), bytes.end()};
  }

  testing::TempFolder folder_;
};

TEST_F(DemoPackage, InspectFindsEveryFileValid) {
  const PackRun run = pack({"inspect", data().string()});
  EXPECT_EQ(run.code, kPackOk) << run.out;
  EXPECT_NE(run.out.find("5 of 5 containers valid"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("REFUSED"), std::string::npos);
  EXPECT_EQ(run.out.find("digest         bad"), std::string::npos);
  EXPECT_NE(run.out.find("<fi name=\"LACR_FW\" ver=\"R01.03.00\"/>"), std::string::npos);
}

TEST_F(DemoPackage, InspectPointsAtADamagedFile) {
  std::vector<std::uint8_t> bytes = readAll(data() / "addr_r010400.kxk");
  bytes.back() ^= 0x20;
  writeAll(data() / "addr_r010400.kxk", bytes);
  const PackRun run = pack({"inspect", data().string()});
  EXPECT_EQ(run.code, kPackFailed);
  EXPECT_NE(run.out.find("digest         bad"), std::string::npos);
  EXPECT_NE(run.out.find("REFUSED: Error:invalid file [addr_r010400.kxk]."), std::string::npos);
  EXPECT_NE(run.out.find("4 of 5 containers valid"), std::string::npos);
}

// Entries that cannot be followed are named and skipped, the rest is still inspected, and the
// exit status says that something was found; names print escaped.
TEST_F(DemoPackage, InspectNamesLinksItCannotFollowAndPrintsNamesEscaped) {
  std::filesystem::create_symlink("loop_b.kxk", data() / "loop_a.kxk");
  std::filesystem::create_symlink("loop_a.kxk", data() / "loop_b.kxk");
  std::filesystem::create_symlink(folder_ / "gone.kxk", data() / "nothing.kxk");
  // A link through a plain file (ENOTDIR) is one that leads nowhere, too.
  std::filesystem::create_symlink(data() / "config.xml" / "under", data() / "under_file.kxk");
  std::ofstream(data() /
                "evil\x1b]0;pwned\x07\xc2\x9b"
                "2J\xff.txt")
      << "x";
  const PackRun run = pack({"inspect", data().string()});
  EXPECT_EQ(run.code, kPackFailed) << run.out;
  EXPECT_NE(run.out.find("loop_a.kxk\n  skipped: cannot be read (Too many levels of symbolic "
                         "links)\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("loop_b.kxk\n  skipped: cannot be read"), std::string::npos);
  EXPECT_NE(run.out.find("nothing.kxk\n  skipped: is a link to nothing\n"), std::string::npos);
  EXPECT_NE(run.out.find("under_file.kxk\n  skipped: is a link to nothing\n"), std::string::npos);
  EXPECT_NE(run.out.find("5 of 5 containers valid"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("evil\\x1B]0;pwned\\x07\\xC2\\x9B2J\\xFF.txt\n  not a package file"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find_first_of("\x1b\x07\x9b\xff"), std::string::npos);
}

// A link into a folder the user may not enter (EACCES). As root nothing is refused, so the
// inspection runs in a child that has become another user.
TEST_F(DemoPackage, InspectNamesALinkItMayNotFollow) {
  const std::filesystem::path locked = folder_ / "locked";
  std::filesystem::create_directory(locked);
  std::ofstream(locked / "firmware.kxk") << "x";
  ASSERT_EQ(::chmod(locked.c_str(), 0700), 0);
  std::filesystem::create_symlink(locked / "firmware.kxk", data() / "firmware_link.kxk");
  // The other user may read the package folder and what leads to it.
  for (const std::filesystem::path& open : {folder_.path(), data()}) {
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
  }
  constexpr int kCannotBecomeAnotherUser = 5;
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    constexpr uid_t kOtherUser = 65534;
    // The group stays: the locked folder gives its group nothing.
    const bool root = ::geteuid() == 0;
    if (root && (::setgroups(0, nullptr) != 0 || ::setuid(kOtherUser) != 0)) {
      ::_exit(kCannotBecomeAnotherUser);
    }
    if (!root && ::chmod(locked.c_str(), 0) != 0) {
      ::_exit(3);
    }
    const PackRun run = pack({"inspect", data().string()});
    const std::string text = std::to_string(run.code) + "\n" + run.out;
    const bool sent =
        ::write(pipeFds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(sent ? 0 : 4);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::chmod(locked.c_str(), 0700);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == kCannotBecomeAnotherUser) {
    std::cout << "SKIP a link this user may not follow: root cannot become another user here\n";
    GTEST_SKIP();
  }
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(text.rfind(std::to_string(kPackFailed) + "\n", 0), 0u) << text;
  EXPECT_NE(text.find("firmware_link.kxk\n  skipped: cannot be read (Permission denied)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("5 of 5 containers valid"), std::string::npos) << text;
}

// A setup file in the package folder must load with its configuration, as at a first start.
TEST_F(DemoPackage, InspectLoadsTheSetupFileWithThePackage) {
  ASSERT_EQ(pack({"demo", data().string(), "--setup", (data() / "setup.dat").string()}).code,
            kPackOk);
  PackRun run = pack({"inspect", data().string()});
  EXPECT_EQ(run.code, kPackOk) << run.out;
  EXPECT_NE(run.out.find("setup.dat loads with config.xml\n"), std::string::npos) << run.out;

  const std::filesystem::path plain = folder_ / "setup.xml";
  std::ofstream(plain) << "<setup id=\"LACX\" name=\"LACR\"/>";
  ASSERT_EQ(pack({"scramble", plain.string(), (data() / "setup.dat").string()}).code, kPackOk);
  run = pack({"inspect", data().string()});
  EXPECT_EQ(run.code, kPackFailed);
  EXPECT_NE(run.out.find("setup.dat REFUSED with config.xml: The setup has a different region id "
                         "with config.\n"),
            std::string::npos)
      << run.out;
}

// inspect applies the checks the update makes before it erases anything, and fails where the
// update would refuse the package.
TEST_F(DemoPackage, InspectRefusesWhatTheUpdateRefuses) {
  const auto firmware = [this](std::size_t binary) {
    std::string error;
    const auto image = buildFirmwareImage(counting(binary), ImageOptions{}, error);
    ASSERT_TRUE(image) << error;
    KxkContents contents;
    contents.type = kKxkRegionFile;
    contents.version = PackVersion{'R', 1, 3, 0};
    contents.internalName = "LACR_FW";
    contents.regionName = "LACR";
    contents.body = *image;
    const auto bytes = buildKxkFile(contents, error);
    ASSERT_TRUE(bytes) << error;
    writeAll(data() / "fw_lacr_r010300.kxk", *bytes);
  };
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> said;
    std::vector<std::string> notSaid;
  } cases[] = {
      {"an image past the erased region",
       [&] { firmware(0x70000); },
       {"too long for flash layout 0", "too long for flash layout 1",
        "too long for flash layout 2"},
       {}},
      {"an image over the default block of layout 0",
       [&] { firmware(0x55000); },
       {"too long for flash layout 0: Error:the firmware image ends at ["},
       {"too long for flash layout 1", "too long for flash layout 2"}},
      {"a stream without data for the default block",
       [this] {
         std::string error;
         SrecOptions options;
         options.startAddress = 0x830000;
         const auto stream = writeSrec(counting(64), options, error);
         ASSERT_TRUE(stream) << error;
         KxkContents contents;
         contents.type = kKxkModelBlock;
         contents.version = PackVersion{'R', 1, 4, 0};
         contents.modelNumber = 2609;
         contents.modelName = "LA26CKN9AR1";
         contents.internalName = "LA26CKN9AR1DEFR01.04.00";
         contents.body = bytesOf(*stream);
         const auto bytes = buildKxkFile(contents, error);
         ASSERT_TRUE(bytes) << error;
         writeAll(data() / "la26ckn9ar1_def_r010400.kxk", *bytes);
       },
       {"refused under addr_r010300.kxk: Error:the codeplug stream has no data for block [DEF]",
        "refused under addr_r010400.kxk: Error:the codeplug stream has no data for block [DEF]"},
       {}},
      {"a file of a gigabyte",
       [this] {
         std::ofstream(data() / "huge.bin").put('x');
         std::filesystem::resize_file(data() / "huge.bin", std::uintmax_t{1} << 30);  // sparse
       },
       {"huge.bin is larger than"},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(data());
    ASSERT_EQ(pack({"demo", data().string()}).code, kPackOk);
    c.arrange();
    const PackRun run = pack({"inspect", data().string()});
    EXPECT_EQ(run.code, kPackFailed) << run.out;
    for (const std::string& text : c.said) {
      EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
    for (const std::string& text : c.notSaid) {
      EXPECT_EQ(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
  }
}

TEST_F(DemoPackage, MatchesTheSimulatedRadio) {
  const std::string config = decoded(data() / "config.xml");
  for (const char* piece :
       {"id=\"LACR\" name=\"LACR\"", "<kp name=\"keypad\" ver=\"R01.00.00\"/>",
        "<ad name=\"ADDR_\" ver=\"R01.04.00\"/>", "<ad name=\"ADDR_\" ver=\"R01.03.00\"/>",
        "name=\"LA26CKN9AR1\"", "addr=\"820000\" len=\"1000\""}) {
    EXPECT_NE(config.find(piece), std::string::npos) << piece;
  }
  const std::string setup = decoded(folder_ / "demo-machine" / "data" / "setup.dat");
  EXPECT_NE(setup.find("<setup id=\"LACR\" name=\"LACR\">"), std::string::npos) << setup;
  EXPECT_NE(setup.find("<pwd cd1=\"12345678\" cd2=\"\"/>"), std::string::npos);
  EXPECT_NE(setup.find("<langs def=\"en_us\"/>"), std::string::npos);

  // The tool's way in: the catalogue by internal name, then the loaders.
  PackageCatalogue catalogue;
  ASSERT_EQ(scanPackage((data() / "config.xml").string() + "/../*.*", catalogue), 5);
  std::string path;
  ASSERT_TRUE(findByInternalName(catalogue, "LACR_FW", path));
  KxkFile file;
  ASSERT_TRUE(loadKxkFile(path, file));
  Flash flash;
  ASSERT_TRUE(flash.loadImage(file.payload));
  EXPECT_LE(flash.imageLength(), 0x70000u);  // the seven erased 64 KiB units
  EXPECT_GE(flash.layout().sectionCount, 3);

  for (const std::string version : {"R01.04.00", "R01.03.00"}) {
    SCOPED_TRACE(version);
    Cpg cpg;
    ASSERT_TRUE(findByInternalName(catalogue, "ADDR_" + version, path));
    ASSERT_TRUE(loadKxkFile(path, file));
    ASSERT_TRUE(cpg.parseAddressMap(file.payload));
    EXPECT_EQ(cpg.block(DEF).startAddress, 0x844000u);
    EXPECT_EQ(cpg.block(DEF).size, 0x10000u);
    EXPECT_EQ(cpg.block(DYN).startAddress, 0x820000u);
    EXPECT_EQ(cpg.block(CON).startAddress, 0x830000u);

    ASSERT_TRUE(findByInternalName(catalogue, "LA26CKN9AR1DEF" + version, path));
    ASSERT_TRUE(loadKxkFile(path, file));
    EXPECT_EQ(file.modelName, "LA26CKN9AR1");
    ASSERT_TRUE(cpg.parseCodeplugStream(file.payload));
    const auto& def = cpg.block(DEF).data;
    const std::string marker = "LA26CKN9AR1 DEF " + version;
    EXPECT_EQ(std::string(def.begin(), def.begin() + static_cast<long>(marker.size())), marker);
    EXPECT_NE(def.back(), 0);  // filled to the block's end (the filler has no zero there)
  }
  EXPECT_TRUE(testing::errorLines().empty());
}

}  // namespace
}  // namespace orvik
