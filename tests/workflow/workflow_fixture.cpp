#include "tests/workflow/workflow_fixture.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

#include "base/text.h"
#include "commands/update_journal.h"
#include "config/scramble.h"
#include "errors/error_log.h"
#include "errors/error_text.h"
#include "pack/demo_package.h"
#include "pack/image_builder.h"
#include "pack/kxk_builder.h"
#include "pack/srec_writer.h"
#include "package/kxk_file.h"

namespace orvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRegion = "LACR";
constexpr const char* kModel = "LA26CKN9AR1";
constexpr std::uint32_t kModelNumber = 2609;
constexpr std::uint32_t kDefAddress = 0x844000;
constexpr std::size_t kDefSize = 0x10000;
// Where the simulated radio (flash layout 1) keeps the firmware image and the default block.
constexpr std::uint32_t kImageFlashAddress = 0x10000;
constexpr std::uint32_t kDefFlashAddress = 0x84000;

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void writeScrambled(const fs::path& path, const std::string& xml) {
  std::vector<std::uint8_t> bytes(xml.begin(), xml.end());
  Scramble(bytes);
  writeFile(path, bytes);
}

void writeContainer(const fs::path& path, const KxkContents& contents) {
  std::string error;
  const auto bytes = buildKxkFile(contents, error);
  ASSERT_TRUE(bytes) << error;
  writeFile(path, *bytes);
}

// Versions the package lists may be malformed on purpose; their containers still need one.
PackVersion packVersionOr(const std::string& text) {
  return parsePackVersion(text).value_or(PackVersion{'R', 1, 0, 0});
}

std::vector<std::uint8_t> filler(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return bytes;
}

// The default block of one version: "<model> DEF <version>" at its start, which the simulated
// radio reports as its codeplug version once the block is programmed.
std::vector<std::uint8_t> defStream(const std::string& version) {
  std::vector<std::uint8_t> block = filler(kDefSize, packVersionWord(packVersionOr(version)));
  const std::string marker = std::string(kModel) + " DEF " + version;
  std::copy(marker.begin(), marker.end(), block.begin());
  SrecOptions options;
  options.startAddress = kDefAddress;
  std::string error;
  const auto text = writeSrec(block, options, error);
  EXPECT_TRUE(text) << error;
  return text ? std::vector<std::uint8_t>(text->begin(), text->end()) : std::vector<std::uint8_t>();
}

std::string versionText(const VersionRecord& record) {
  return RadioInfo::versionRecordText(record).value_or("");
}

}  // namespace

std::string goAheadQuestion(const std::string& firmware, const std::string& codeplug,
                            const std::string& keypad) {
  return "This will program the radio (Firmware Version: " + firmware +
         ", Codeplug Version: " + codeplug + ", Keypad Firmware Version: " + keypad +
         "). Please do not remove the USB cable, the radio from the Single Unit Charger, or "
         "turn-off radio during the programming process since this can damage or corrupt the "
         "radio software.\n\nDo you want to continue?";
}

std::vector<Question> questionKinds(const std::vector<std::string>& questions) {
  std::vector<Question> kinds;
  for (const std::string& text : questions) {
    kinds.push_back(text.starts_with("This will program the radio (") ? Question::GoAhead
                    : text == kDowngradeQuestion                      ? Question::Downgrade
                                                                      : Question::Other);
  }
  return kinds;
}

std::vector<std::string> logLines(const std::string& log) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) {
      end = log.size();
    }
    std::string line = log.substr(start, end - start);
    // "[ 05-01 12:00:00 ] text": the stamp is 19 characters.
    if (line.starts_with("[ ") && line.size() >= 19 && line.compare(16, 3, " ] ") == 0) {
      line.erase(0, 19);
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

SimRadioConfig radioWith(const char* firmware, const char* codeplug, const char* keypad) {
  SimRadioConfig config;
  config.firmwareVersion = parseVersionRecord(firmware).value();
  config.codeplugVersion = parseVersionRecord(codeplug).value();
  config.keypadVersion = parseVersionRecord(keypad).value();
  return config;
}

void writePackage(const fs::path& dataDir, const fs::path& setupPath, const PackageSpec& package) {
  std::string xml =
      formatText("<?xml version=\"1.0\"?>\n<package id=\"%s\" name=\"%s\">\n", kRegion, kRegion);
  if (!package.firmware.empty()) {
    const PackVersion version = packVersionOr(package.firmware);
    ImageOptions options;
    options.headerValue = packVersionWord(version);
    options.tableEntries = {0x00010000};
    std::string error;
    const auto image = buildFirmwareImage(filler(0x10000, 0x0F1E2D3C), options, error);
    ASSERT_TRUE(image) << error;
    KxkContents firmware;
    firmware.type = kKxkRegionFile;
    firmware.version = version;
    firmware.internalName = std::string(kRegion) + "_FW";
    firmware.regionName = kRegion;
    firmware.body = *image;
    writeContainer(dataDir / "firmware.kxk", firmware);
    xml += formatText("  <fi name=\"%s_FW\" ver=\"%s\"/>\n", kRegion, package.firmware.c_str());
  }
  if (!package.keypad.empty()) {
    xml += formatText("  <kp name=\"keypad\" ver=\"%s\"/>\n", package.keypad.c_str());
  }
  int files = 0;
  const std::string map = demoAddressMapText();
  for (const std::string& version : package.addressVersions) {
    KxkContents contents;
    contents.type = kKxkCodeplugFile;
    contents.version = packVersionOr(version);
    contents.codeplugVersion = contents.version;
    contents.internalName = "ADDR_" + version;
    contents.body.assign(map.begin(), map.end());
    writeContainer(dataDir / formatText("addr%d.kxk", ++files), contents);
    xml += formatText("  <ad name=\"ADDR_\" ver=\"%s\"/>\n", version.c_str());
  }
  xml += "  <bu>\n";
  if (!package.dynLength.empty()) {
    xml += formatText("    <bl name=\"DYN\" from=\"\" to=\"\" addr=\"820000\" len=\"%s\"/>\n",
                      package.dynLength.c_str());
  }
  xml +=
      "    <bl name=\"CON\" from=\"1\" to=\"1\" addr=\"830000\" len=\"2000\"/>\n"
      "  </bu>\n";
  xml += formatText("  <mo type=\"LA26\" alias=\"LA26 Portable\" img=\"0\" name=\"%s\">\n", kModel);
  for (const std::string& version : package.codeplugVersions) {
    KxkContents contents;
    contents.type = kKxkModelBlock;
    contents.version = packVersionOr(version);
    contents.modelNumber = kModelNumber;
    contents.modelName = kModel;
    contents.internalName = std::string(kModel) + "DEF" + version;
    contents.body = defStream(version);
    writeContainer(dataDir / formatText("def%d.kxk", ++files), contents);
    xml += formatText("    <bl name=\"DEF\" ver=\"%s\"/>\n", version.c_str());
  }
  xml += "  </mo>\n</package>\n";
  writeScrambled(dataDir / "config.xml", xml);
  writeScrambled(
      setupPath,
      formatText("<?xml version=\"1.0\"?>\n<setup id=\"%s\" name=\"%s\">\n"
                 "  <pwd cd1=\"%s\" cd2=\"%s\"/>\n  <langs def=\"en_us\"/>\n</setup>\n",
                 kRegion, kRegion, package.dealerPassword.c_str(), package.savedPassword.c_str()));
}

// --- the view and the console ------------------------------------------------------------------

void RecordingWait::runModal(const std::string& text, const std::function<bool()>& ended) {
  texts.push_back(text);
  if (during) {
    during(text);
  }
  queue_.runModal(text, ended);
  if (after) {
    after(text);
  }
}

int RecordingView::showMessage(const std::string& text, unsigned style) {
  messages.push_back({text, style});
  if (onShow) {
    onShow(messages.back());
  }
  if (style != kStyleQuestion) {
    return kAnswerOk;
  }
  if (answers.empty()) {
    if (!yesToUnplannedQuestions) {
      ADD_FAILURE() << "a question nobody planned for: " << text;
    }
    return kAnswerYes;
  }
  const int answer = answers.front();
  answers.pop_front();
  return answer;
}

bool RecordingView::confirmTestMode(const std::string& text) {
  testModeQuestions.push_back(text);
  return acceptTestMode;
}

std::optional<std::string> RecordingView::askPassword(bool wrongPassword) {
  passwordHints.push_back(wrongPassword);
  if (passwords.empty()) {
    return std::nullopt;
  }
  std::string typed = passwords.front();
  passwords.pop_front();
  return typed;
}

std::vector<std::string> RecordingView::questions() const {
  std::vector<std::string> asked;
  for (const Shown& shown : messages) {
    if (shown.style == kStyleQuestion) {
      asked.push_back(shown.text);
    }
  }
  return asked;
}

std::vector<RecordingView::Shown> RecordingView::results() const {
  std::vector<Shown> shown;
  for (const Shown& message : messages) {
    if (message.style != kStyleQuestion) {
      shown.push_back(message);
    }
  }
  return shown;
}

bool FakeConsole::post(WParam console, ConsoleMessage message, WParam wParam, LParam lParam) {
  posts.push_back({console, message, wParam, lParam});
  if (refusals < 0) {
    return false;
  }
  if (refusals > 0) {
    --refusals;
    return false;
  }
  return true;
}

// --- the bench ---------------------------------------------------------------------------------

namespace {

class EndedScript final : public KeypadScript {
 public:
  EndedScript(int exitCode, std::string output) : exitCode_(exitCode), output_(std::move(output)) {}
  std::optional<int> exitCode(std::chrono::milliseconds) override { return exitCode_; }
  void terminate() override {}
  std::string output() override { return output_; }

 private:
  int exitCode_;
  std::string output_;
};

}  // namespace

std::unique_ptr<KeypadScript> BenchBootLoader::start(const fs::path& script,
                                                     const std::vector<std::string>& arguments,
                                                     const std::vector<std::string>& environment) {
  runs.push_back(Run{script, arguments, environment});
  if (!bench_.keypadStartable) {
    return nullptr;
  }
  // The tool has closed the cable for the boot-loader, which opens it as any program would.
  if (bench_.keypadExitCode == CmdKeypad::kSuccessExitCode) {
    SimCableDriver& cable = bench_.cable;
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(cable.open(0, handle), FT_OK);
    if (handle != nullptr) {
      cable.setBaudRate(handle, SimRadio::kDefaultBaud);
      const std::string line = "KEYPAD " + bench_.package.keypad + "\n";
      std::uint32_t written = 0;
      cable.write(handle, reinterpret_cast<const std::uint8_t*>(line.data()),
                  static_cast<std::uint32_t>(line.size()), written);
      std::array<std::uint8_t, 3> answer{};
      std::uint32_t received = 0;
      cable.read(handle, answer.data(), static_cast<std::uint32_t>(answer.size()), received);
      EXPECT_EQ(std::string(answer.begin(), answer.begin() + received), "OK\n");
      cable.close(handle);
    }
  }
  return std::make_unique<EndedScript>(bench_.keypadExitCode, bench_.keypadOutput);
}

Bench::Bench(const PackageSpec& packageSpec, const SimRadioConfig& radioConfig, int exitCode)
    : package(packageSpec), radio(radioConfig), keypadExitCode(exitCode) {
  removeErrors(ErrorCategory::OK);
  writePackage(dataDir(), setupPath(), package);
  errorLog().setLogDirectory(folder.path().string());
  loaded = load(config);
  EXPECT_TRUE(loaded) << joinedErrorText();

  auto bootLoaderOwned = std::make_unique<BenchBootLoader>(*this);
  bootLoader = bootLoaderOwned.get();
  controller.keypadCommand().setLauncher(std::move(bootLoaderOwned));

  task.create();
  controller.setBaseFolder(folder.path());
  controller.setBackupFolder(folder.path() / "backup");
  controller.setJournalFolder(journalFolder(folder.path()));
  controller.setConsoleChannel(&consoleChannel);
  controller.initialize();
  controller.onCableCount(1);
}

Bench::~Bench() {
  removeErrors(ErrorCategory::OK);
}

bool Bench::load(Config& into) const {
  return CreateXmlDocument(into.xmlDocument) &&
         into.LoadConfig((dataDir() / "config.xml").string(), setupPath().string());
}

std::string Bench::logText() const {
  std::ifstream in(errorLog().path());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Bench::radioFirmware() const {
  return versionText(radio.config().firmwareVersion);
}

std::string Bench::radioCodeplug() const {
  return versionText(radio.config().codeplugVersion);
}

std::string Bench::radioKeypad() const {
  return versionText(radio.config().keypadVersion);
}

std::string Bench::radioSerial() const {
  const std::vector<std::uint8_t>& serial = radio.config().serialNumber;
  return {serial.begin(), serial.end()};
}

bool Bench::firmwareProgrammed() const {
  // The image starts with its magic byte 0x09 where the radio had its own contents.
  return radio.flashBytes(kImageFlashAddress, 1) == std::vector<std::uint8_t>{0x09};
}

bool Bench::codeplugProgrammed() const {
  const std::string marker = std::string(kModel) + " DEF ";
  const std::vector<std::uint8_t> head = radio.flashBytes(kDefFlashAddress, marker.size());
  return std::string(head.begin(), head.end()) == marker;
}

bool Bench::keypadUpdated() const {
  return std::find(view.wait.texts.begin(), view.wait.texts.end(), kKeypadWaitText) !=
         view.wait.texts.end();
}

int Bench::console(ConsoleMessage message, LParam lParam, WParam handle) {
  return controller.onConsoleMessage(message, handle, lParam);
}

}  // namespace orvik::testing
