#include "tests/commands/program_fixture.h"

#include <cstdlib>
#include <sstream>

#include "codeplug/cpg.h"
#include "pack/demo_package.h"
#include "pack/kxk_builder.h"
#include "pack/pack_files.h"
#include "pack/srec_writer.h"
#include "package/flash.h"
#include "package/kxk_file.h"

namespace orvik::testing {
namespace {

std::filesystem::path makeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvik-program-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::abort();
  }
  return pattern;
}

// The package outlives every test of the program; it goes when the program ends.
struct DemoPackage {
  DemoPackage() : folder(makeTempFolder()) {
    std::ostringstream out;
    std::string error;
    if (!writeDemoPackage(folder, folder / "setup.dat", out, error)) {
      ADD_FAILURE() << "demo package: " << error;
    }
  }
  ~DemoPackage() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::filesystem::path folder;
};

Bytes loadPayload(const std::filesystem::path& path) {
  KxkFile file;
  EXPECT_TRUE(loadKxkFile(path, file)) << path;
  return file.payload;
}

}  // namespace

Bytes contactRecord(std::uint8_t kind, std::uint8_t id, std::size_t size) {
  Bytes record(size);
  for (std::size_t i = 0; i < size; ++i) {
    record[i] = static_cast<std::uint8_t>(id * 16 + i);
  }
  record[7] = kind;
  return record;
}

const std::filesystem::path& demoPackage() {
  static const DemoPackage package;
  return package.folder;
}

std::filesystem::path demoFirmwareFile() {
  return demoPackage() / "fw_lacr_r010300.kxk";
}

std::filesystem::path demoAddressMapFile() {
  return demoPackage() / "addr_r010400.kxk";
}

std::filesystem::path demoCodeplugFile() {
  return demoPackage() / "la26ckn9ar1_def_r010400.kxk";
}

const Bytes& demoImage() {
  static const Bytes image = [] {
    Flash flash;
    EXPECT_TRUE(flash.loadImage(loadPayload(demoFirmwareFile())));
    return Bytes(flash.image().begin(), flash.image().end());
  }();
  return image;
}

const Bytes& demoDefBlock() {
  static const Bytes block = [] {
    Cpg cpg;
    EXPECT_TRUE(
        cpg.parseAddressMap(std::span<const std::uint8_t>(loadPayload(demoAddressMapFile()))));
    EXPECT_TRUE(
        cpg.parseCodeplugStream(std::span<const std::uint8_t>(loadPayload(demoCodeplugFile()))));
    return cpg.block(DEF).data;
  }();
  return block;
}

void writeFirmwareContainer(const std::filesystem::path& path, const Bytes& image) {
  KxkContents contents;
  contents.type = kKxkRegionFile;
  contents.version = PackVersion{'R', 1, 3, 0};
  contents.internalName = "LACR_FW";
  contents.regionName = "LACR";
  contents.body = image;
  std::string error;
  const auto bytes = buildKxkFile(contents, error);
  ASSERT_TRUE(bytes) << error;
  ASSERT_TRUE(writePackFile(path, *bytes, error)) << error;
}

void writeCodeplugContainer(const std::filesystem::path& path, std::uint32_t address,
                            const Bytes& bytes) {
  std::string error;
  SrecOptions options;
  options.startAddress = address;
  const auto stream = writeSrec(bytes, options, error);
  ASSERT_TRUE(stream) << error;
  KxkContents contents;
  contents.type = kKxkModelBlock;
  contents.version = PackVersion{'R', 1, 4, 0};
  contents.modelNumber = 2609;
  contents.modelName = "LA26CKN9AR1";
  contents.internalName = "LA26CKN9AR1DEFR01.04.00";
  contents.body.assign(stream->begin(), stream->end());
  const auto container = buildKxkFile(contents, error);
  ASSERT_TRUE(container) << error;
  ASSERT_TRUE(writePackFile(path, *container, error)) << error;
}

void writeAddressMapContainer(const std::filesystem::path& path, const std::string& text) {
  KxkContents contents;
  contents.type = kKxkCodeplugFile;
  contents.version = PackVersion{'R', 1, 4, 0};
  contents.codeplugVersion = contents.version;
  contents.internalName = "ADDR_R01.04.00";
  contents.body.assign(text.begin(), text.end());
  std::string error;
  const auto container = buildKxkFile(contents, error);
  ASSERT_TRUE(container) << error;
  ASSERT_TRUE(writePackFile(path, *container, error)) << error;
}

Bytes imageOfLength(std::size_t length) {
  // Magic, header value, an empty table, one section, then filler words up to the length.
  Bytes image = {0x09, 0xAA, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00};
  const std::size_t room = length - image.size() - 2;
  const auto words = static_cast<std::uint16_t>(room / 2 / 4 * 4);
  const auto count = static_cast<std::uint16_t>(words - 2);
  image.push_back(static_cast<std::uint8_t>(count >> 8));
  image.push_back(static_cast<std::uint8_t>(count));
  for (std::size_t i = 0; i < std::size_t{2} * words; ++i) {
    image.push_back(static_cast<std::uint8_t>(i * 7 + 1));
  }
  image.resize(length, 0x00);
  return image;
}

TempFolder::TempFolder() : path_(makeTempFolder()) {}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

MessageRecorder::MessageRecorder() {
  window_ = createMessageWindow([this](const Message& message) { messages_.push_back(message); });
}

MessageRecorder::~MessageRecorder() {
  destroyMessageWindow(window_);
}

std::vector<unsigned> MessageRecorder::progress() const {
  std::vector<unsigned> values;
  for (const Message& message : messages_) {
    if (message.message == MSG_PROGRESS) {
      values.push_back(static_cast<unsigned>(message.wParam));
    }
  }
  return values;
}

Lines requestRuns(const std::vector<RequestKind>& kinds) {
  Lines runs;
  for (std::size_t i = 0; i < kinds.size();) {
    std::size_t j = i;
    while (j < kinds.size() && kinds[j] == kinds[i]) {
      ++j;
    }
    std::string run(requestKindName(kinds[i]));
    if (j - i > 1) {
      run += " x" + std::to_string(j - i);
    }
    runs.push_back(run);
    i = j;
  }
  return runs;
}

void ProgramTest::SetUp() {
  ErrorTextTest::SetUp();
  originalContacts = {contactRecord(1, 1), contactRecord(4, 2), contactRecord(2, 3),
                      contactRecord(3, 4), contactRecord(1, 5), contactRecord(4, 6)};
  radio.setContacts(originalContacts);
  originalDyn = dynMemory();
  ASSERT_TRUE(manager.connect(true));
  ASSERT_TRUE(info.readIdentity());
  radio.clearLog();
  clock.clearSleeps();
  removeErrors(ErrorCategory::OK);

  command.radioInfo = &info;
  command.notifyWindow = recorder.window();
  command.setFirmwareFile(demoFirmwareFile());
  command.setAddressMapFile(demoAddressMapFile());
  command.setCodeplugFile(demoCodeplugFile());
  command.requestFirmwareSteps();
  command.requestCodeplugStep();
  command.requestPersonalitySteps();
  command.keepPersonality = true;
  const PersonalityBlock blocks[] = {{DYN, kDynAddress, kDynSize}, {CON, 0x830000, 0x2000}};
  command.setPersonalityBlocks(blocks);
  command.backupFolder = temp.path() / "backup";
}

void ProgramTest::TearDown() {
  manager.disconnect();
  ErrorTextTest::TearDown();
}

bool ProgramTest::run() {
  const bool result = command.execute();
  currentThreadQueue().processPending();
  return result;
}

std::vector<Bytes> ProgramTest::contactsInRestoreOrder() const {
  std::vector<Bytes> ordered;
  for (const std::uint8_t kind : {4, 2, 3, 1}) {
    for (const Bytes& record : originalContacts) {
      if (record[7] == kind) {
        ordered.push_back(record);
      }
    }
  }
  return ordered;
}

bool ProgramTest::flashHolds(std::uint32_t address, const Bytes& bytes) const {
  return radio.flashBytes(address, bytes.size()) == bytes;
}

bool ProgramTest::flashIsErased(std::uint32_t address, std::size_t count) const {
  return radio.flashBytes(address, count) == Bytes(count, 0xFF);
}

bool ProgramTest::flashIsUntouched(std::uint32_t address, std::size_t count) const {
  const Bytes bytes = radio.flashBytes(address, count);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != SimRadio::initialFlashByte(address + static_cast<std::uint32_t>(i))) {
      return false;
    }
  }
  return bytes.size() == count;
}

}  // namespace orvik::testing
