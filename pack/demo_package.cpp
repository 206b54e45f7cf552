#include "pack/demo_package.h"

#include <cstdint>
#include <vector>

#include "base/text.h"
#include "config/scramble.h"
#include "pack/image_builder.h"
#include "pack/kxk_builder.h"
#include "pack/pack_files.h"
#include "pack/srec_writer.h"
#include "package/kxk_file.h"

namespace orvik {
namespace {

constexpr std::uint32_t kDemoModelNumber = 2609;
constexpr std::uint32_t kDefAddress = 0x844000;

constexpr PackVersion kFirmwareVersion{'R', 1, 3, 0};
constexpr PackVersion kKeypadVersion{'R', 1, 0, 0};
constexpr PackVersion kEvenVersion{'R', 1, 4, 0};
constexpr PackVersion kOddVersion{'R', 1, 3, 0};

// Deterministic filler that looks like code rather than a run of one value.
std::vector<std::uint8_t> pseudoRandomBytes(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(n);
  std::uint32_t state = seed;
  for (auto& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

std::vector<std::uint8_t> textBytes(const std::string& text) {
  return {text.begin(), text.end()};
}

std::string configText() {
  const std::string even = packVersionText(kEvenVersion);
  const std::string odd = packVersionText(kOddVersion);
  return formatText(
      "<?xml version=\"1.0\"?>\n"
      "<package id=\"%s\" name=\"%s\">\n"
      "  <fi name=\"%s_FW\" ver=\"%s\"/>\n"
      "  <kp name=\"keypad\" ver=\"%s\"/>\n"
      "  <ad name=\"ADDR_\" ver=\"%s\"/>\n"
      "  <ad name=\"ADDR_\" ver=\"%s\"/>\n"
      "  <bu>\n"
      "    <bl name=\"DYN\" from=\"\" to=\"\" addr=\"820000\" len=\"1000\"/>\n"
      "    <bl name=\"CON\" from=\"1\" to=\"1\" addr=\"830000\" len=\"2000\"/>\n"
      "  </bu>\n"
      "  <mo type=\"LA26\" alias=\"LA26 Portable\" img=\"0\" name=\"%s\">\n"
      "    <bl name=\"DEF\" ver=\"%s\"/>\n"
      "    <bl name=\"DEF\" ver=\"%s\"/>\n"
      "  </mo>\n"
      "</package>\n",
      kDemoRegion, kDemoRegion, kDemoRegion, packVersionText(kFirmwareVersion).c_str(),
      packVersionText(kKeypadVersion).c_str(), even.c_str(), odd.c_str(), kDemoModel, even.c_str(),
      odd.c_str());
}

std::string setupText() {
  return formatText(
      "<?xml version=\"1.0\"?>\n"
      "<setup id=\"%s\" name=\"%s\">\n"
      "  <pwd cd1=\"%s\" cd2=\"\"/>\n"
      "  <langs def=\"en_us\"/>\n"
      "</setup>\n",
      kDemoRegion, kDemoRegion, kDemoDealerPassword);
}

bool writeScrambledXml(const std::filesystem::path& path, const std::string& text,
                       std::ostream& out, std::string& error) {
  std::vector<std::uint8_t> bytes = textBytes(text);
  Scramble(bytes);
  if (!writePackFile(path, bytes, error)) {
    return false;
  }
  out << "wrote " << path.string() << "\n";
  return true;
}

bool writeContainer(const std::filesystem::path& path, const KxkContents& contents,
                    std::ostream& out, std::string& error) {
  const auto bytes = buildKxkFile(contents, error);
  if (!bytes || !writePackFile(path, *bytes, error)) {
    return false;
  }
  out << "wrote " << path.string() << " (" << contents.internalName << ")\n";
  return true;
}

// The default codeplug block of one family: the model and version at its start, then filler.
std::optional<std::string> defStream(const PackVersion& version, std::uint32_t size,
                                     std::string& error) {
  std::vector<std::uint8_t> block =
      pseudoRandomBytes(size, packVersionWord(version) ^ kDemoModelNumber);
  const std::string marker = std::string(kDemoModel) + " DEF " + packVersionText(version);
  std::copy(marker.begin(), marker.end(), block.begin());
  SrecOptions options;
  options.startAddress = kDefAddress;
  options.header = marker;
  return writeSrec(block, options, error);
}

}  // namespace

std::string demoAddressMapText(std::uint32_t defaultBlockBytes) {
  const struct {
    const char* key;
    std::uint32_t address;
    std::uint32_t size;
  } blocks[] = {
      {"DYN_START", 0x820000, 0x1000},
      {"CONTACT_START", 0x830000, 0x2000},
      {"ERGO_START", 0x840000, 0x1000},
      {"FACT_START", 0x841000, 0x1000},
      {"HW_START", 0x842000, 0x1000},
      {"BACKUP_FACT", 0x843000, 0x1000},
      {"DEF_BLK", kDefAddress, defaultBlockBytes},
      {"RESERVED_BLOCK_1", 0x854000, 0x6000},
      {"RESERVED_BLOCK_2", 0x860000, 0x6000},
  };
  std::string text;
  for (const auto& block : blocks) {
    text += formatText("%s\nADDRESS = %X\nBSIZE = %X\n", block.key, block.address, block.size);
  }
  return text;
}

bool writeDemoPackage(const std::filesystem::path& folder, const std::filesystem::path& setupPath,
                      std::ostream& out, std::string& error, const DemoPackageSizes& sizes) {
  // Firmware: by default five 64 KiB sections, well inside the seven erased 64 KiB units.
  ImageOptions imageOptions;
  imageOptions.headerValue = packVersionWord(kFirmwareVersion);
  imageOptions.tableEntries = {0x00010000};
  const auto image =
      buildFirmwareImage(pseudoRandomBytes(sizes.firmwareBytes, 0x0F1E2D3C), imageOptions, error);
  if (!image) {
    return false;
  }
  KxkContents firmware;
  firmware.type = kKxkRegionFile;
  firmware.version = kFirmwareVersion;
  firmware.internalName = std::string(kDemoRegion) + "_FW";
  firmware.regionName = kDemoRegion;
  firmware.body = *image;
  if (!writeContainer(folder / "fw_lacr_r010300.kxk", firmware, out, error)) {
    return false;
  }

  for (const PackVersion& version : {kEvenVersion, kOddVersion}) {
    const std::string versionText = packVersionText(version);
    const std::string fileVersion =
        formatText("r%02d%02d%02d", int{version.major}, int{version.minor}, int{version.patch});
    KxkContents map;
    map.type = kKxkCodeplugFile;
    map.version = version;
    map.codeplugVersion = version;
    map.internalName = "ADDR_" + versionText;
    map.body = textBytes(demoAddressMapText(sizes.defaultBlockBytes));
    if (!writeContainer(folder / ("addr_" + fileVersion + ".kxk"), map, out, error)) {
      return false;
    }

    const auto stream = defStream(version, sizes.defaultBlockBytes, error);
    if (!stream) {
      return false;
    }
    KxkContents block;
    block.type = kKxkModelBlock;
    block.version = version;
    block.modelNumber = kDemoModelNumber;
    block.modelName = kDemoModel;
    block.internalName = std::string(kDemoModel) + "DEF" + versionText;
    block.body = textBytes(*stream);
    if (!writeContainer(folder / ("la26ckn9ar1_def_" + fileVersion + ".kxk"), block, out, error)) {
      return false;
    }
  }

  return writeScrambledXml(folder / "config.xml", configText(), out, error) &&
         writeScrambledXml(setupPath, setupText(), out, error);
}

bool writeDemoSetup(const std::filesystem::path& setupPath, std::ostream& out, std::string& error) {
  return writeScrambledXml(setupPath, setupText(), out, error);
}

}  // namespace orvik
