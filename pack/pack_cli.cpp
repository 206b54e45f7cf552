#include "pack/pack_cli.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <sstream>

#include "base/program_version.h"
#include "base/text.h"
#include "config/scramble.h"
#include "pack/demo_package.h"
#include "pack/image_builder.h"
#include "pack/inspect.h"
#include "pack/kxk_builder.h"
#include "pack/pack_files.h"
#include "pack/package_signing.h"
#include "pack/srec_writer.h"

namespace orvik {
namespace {

constexpr const char* kDescription =
    "orvik-pack builds and inspects update packages for the Orvik Update Tool.\n"
    "\n"
    "A package folder holds config.xml (scrambled XML naming the region, versions, models and\n"
    "files) and KXK containers, found by the internal names in their headers. Container "
    "types:\n"
    "  0  model block: prefix with model number and model name (codeplug blocks)\n"
    "  1  codeplug version prefix (address maps); 2 is the same layout\n"
    "  3  region name prefix (firmware)\n"
    "\n"
    "Exit codes: 0 success, 1 the command failed (or inspect found a problem), 2 usage error.";

struct Failure {
  std::string message;
};

void fail(const std::string& message) {
  throw Failure{message};
}

std::vector<std::uint8_t> readInput(const std::string& path) {
  std::string error;
  auto bytes = readPackFile(path, error);
  if (!bytes) {
    fail(error);
  }
  return std::move(*bytes);
}

void writeOutput(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::string error;
  if (!writePackFile(path, bytes, error)) {
    fail(error);
  }
}

PackVersion versionOption(const std::string& text, const char* what) {
  const auto version = parsePackVersion(text);
  if (!version) {
    fail(std::string(what) + " must look like R01.03.00, not \"" + text + "\"");
  }
  return *version;
}

std::uint32_t numberOption(const std::string& text, bool hex, const char* what) {
  const auto value = parsePackNumber(text, hex);
  if (!value) {
    fail(std::string(what) + " is not a 32-bit " + (hex ? "hexadecimal " : "") + "number: \"" +
         text + "\"");
  }
  return *value;
}

}  // namespace

int runPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app(kDescription, "orvik-pack");
  app.set_version_flag("--version", std::string("orvik-pack ") + kProgramVersion);
  app.require_subcommand(1);
  app.failure_message(CLI::FailureMessage::simple);

  // kxk
  auto* kxk = app.add_subcommand("kxk", "Build a container from a body file");
  std::string kxkBody, kxkOut, kxkVersion, kxkName, kxkModelNumber = "0", kxkModelName, kxkCodeplug,
                                                    kxkRegion;
  int kxkType = 0;
  kxk->add_option("body", kxkBody, "Plain body file (scrambled into the container)")->required();
  kxk->add_option("output", kxkOut, "Container file to write")->required();
  kxk->add_option("-t,--type", kxkType, "Container type 0 to 3")->required();
  kxk->add_option("-v,--version", kxkVersion, "File version, e.g. R01.03.00")->required();
  kxk->add_option("-n,--name", kxkName, "Internal name the configuration refers to")->required();
  kxk->add_option("--model-number", kxkModelNumber, "Type 0: model number (decimal or 0x hex)");
  kxk->add_option("--model-name", kxkModelName, "Type 0: model name, at most 20 bytes");
  kxk->add_option("--codeplug-version", kxkCodeplug,
                  "Types 1 and 2: codeplug version, e.g. R01.04.00 (default: --version)");
  kxk->add_option("--region", kxkRegion, "Type 3: region name, at most 10 bytes");

  // scramble / unscramble
  std::string xmlIn, xmlOut;
  auto* scramble = app.add_subcommand(
      "scramble", "Scramble an XML file (config.xml, setup.dat) with the configuration key");
  scramble->add_option("input", xmlIn, "Plain XML file")->required();
  scramble->add_option("output", xmlOut, "Scrambled file to write")->required();
  auto* unscramble =
      app.add_subcommand("unscramble", "Unscramble config.xml or setup.dat back to XML");
  unscramble->add_option("input", xmlIn, "Scrambled file")->required();
  unscramble->add_option("output", xmlOut, "Plain XML file to write")->required();

  // image
  auto* image = app.add_subcommand(
      "image",
      "Wrap a binary into the firmware image layout (magic, header value, table, "
      "sections); the result is the body of a firmware container");
  std::string imageIn, imageOut, imageHeader = "0";
  std::vector<std::string> imageTable;
  std::size_t sectionBytes = 0x10000;
  image->add_option("binary", imageIn, "Binary to wrap")->required();
  image->add_option("output", imageOut, "Image file to write")->required();
  image->add_option("--header-value", imageHeader, "32-bit header value (hexadecimal)");
  image->add_option("--table-entry", imageTable, "A 32-bit table entry (hexadecimal); repeat");
  image->add_option("--section-size", sectionBytes,
                    "Largest section body in bytes, 8 to 131072 (default 65536)");

  // srec
  auto* srec = app.add_subcommand("srec", "Turn a binary into an S-record stream");
  std::string srecIn, srecOut, srecStart, srecHeader;
  std::size_t recordBytes = 32;
  int addressBytes = 0;
  srec->add_option("binary", srecIn, "Binary to convert")->required();
  srec->add_option("output", srecOut, "S-record text file to write")->required();
  srec->add_option("-a,--start", srecStart, "Address of the first byte (hexadecimal)")->required();
  srec->add_option("--record-bytes", recordBytes, "Data bytes per record (default 32)");
  srec->add_option("--address-bytes", addressBytes,
                   "2, 3 or 4 address bytes (S1, S2, S3); default: the smallest that fits");
  srec->add_option("--header", srecHeader, "Text of an S0 header record");

  // inspect
  auto* inspect = app.add_subcommand(
      "inspect",
      "List every file of a package folder: internal name, type, version, payload "
      "length, digest, whether the tool loads it; config.xml and setup.dat decoded");
  std::string inspectDir;
  inspect->add_option("folder", inspectDir, "Package folder")->required();

  // demo
  auto* demo = app.add_subcommand(
      "demo", "Write the demo package for the simulated radio and its machine's setup.dat");
  demo->footer(
      "The demo radio is model LA26CKN9AR1 with firmware R01.02.03, codeplug R01.02.00 and\n"
      "keypad R01.00.00. The package, for region LACR, holds config.xml, firmware R01.03.00\n"
      "(type 3), address maps ADDR_R01.04.00 (even family) and ADDR_R01.03.00 (odd family,\n"
      "type 1) and the model's DEF blocks R01.04.00 and R01.03.00 (type 0). setup.dat names\n"
      "region LACR, the dealer password \"12345678\" (not logged in) and language en_us.");
  std::string demoDir, demoSetup;
  bool demoQuiet = false;
  demo->add_option("folder", demoDir, "Package folder to write")->required();
  demo->add_option("--setup", demoSetup,
                   "Where to write setup.dat (default: FOLDER/../demo-machine/data/setup.dat)");
  demo->add_flag("-q,--quiet", demoQuiet, "Do not list the files written");

  // keygen / sign / verify
  auto* keygen = app.add_subcommand(
      "keygen", "Make a signing key pair in minisign's formats: NAME.pub and NAME.key");
  std::string keyName, keyOut = ".";
  keygen->add_option("--name", keyName, "Name of the two files")->required();
  keygen->add_option("--out", keyOut, "Folder to write them to (default: the current folder)");
  keygen->footer(
      "The secret key has no password (as minisign -G -W writes it) and is readable by its\n"
      "owner only; keep it off the machines that install packages. Give NAME.pub to dealers.");
  auto* sign = app.add_subcommand(
      "sign", "Sign a package folder: write SHA256SUMS and its minisign signature");
  std::string signDir, signKey;
  std::optional<std::string> signComment;
  sign->add_option("folder", signDir, "Package folder")->required();
  sign->add_option("--key", signKey, "Secret key file (from keygen or minisign -G -W)")->required();
  sign->add_option("--comment", signComment,
                   "Trusted comment (default: time, region and the package's versions)");
  auto* verify =
      app.add_subcommand("verify", "Check a package folder's signature and files as the tool does");
  std::string verifyDir;
  std::optional<std::string> verifyKey;
  verify->add_option("folder", verifyDir, "Package folder")->required();
  verify->add_option("--key", verifyKey,
                     "Public key file (default: the keys the tool trusts: ORVIK_TRUSTED_KEYS, "
                     "else /etc/orvik-update-tool/keys and the installation's keys/)");

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? kPackOk : kPackUsage;
  }

  try {
    if (kxk->parsed()) {
      KxkContents contents;
      contents.type = kxkType;
      contents.version = versionOption(kxkVersion, "--version");
      contents.internalName = kxkName;
      contents.modelNumber = numberOption(kxkModelNumber, false, "--model-number");
      contents.modelName = kxkModelName;
      contents.codeplugVersion =
          kxkCodeplug.empty() ? contents.version : versionOption(kxkCodeplug, "--codeplug-version");
      contents.regionName = kxkRegion;
      contents.body = readInput(kxkBody);
      std::string error;
      const auto bytes = buildKxkFile(contents, error);
      if (!bytes) {
        fail(error);
      }
      writeOutput(kxkOut, *bytes);
    } else if (scramble->parsed() || unscramble->parsed()) {
      std::vector<std::uint8_t> bytes = readInput(xmlIn);
      Scramble(bytes);
      writeOutput(xmlOut, bytes);
    } else if (image->parsed()) {
      ImageOptions options;
      options.headerValue = numberOption(imageHeader, true, "--header-value");
      for (const std::string& entry : imageTable) {
        options.tableEntries.push_back(numberOption(entry, true, "--table-entry"));
      }
      options.sectionBytes = sectionBytes;
      std::string error;
      const auto bytes = buildFirmwareImage(readInput(imageIn), options, error);
      if (!bytes) {
        fail(error);
      }
      writeOutput(imageOut, *bytes);
    } else if (srec->parsed()) {
      SrecOptions options;
      options.startAddress = numberOption(srecStart, true, "--start");
      options.bytesPerRecord = recordBytes;
      options.addressBytes = addressBytes;
      options.header = srecHeader;
      std::string error;
      const auto text = writeSrec(readInput(srecIn), options, error);
      if (!text) {
        fail(error);
      }
      writeOutput(srecOut,
                  std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()));
    } else if (inspect->parsed()) {
      return inspectPackage(inspectDir, out) ? kPackOk : kPackFailed;
    } else if (keygen->parsed()) {
      std::string error;
      if (!generateKeyPair(keyName, keyOut, out, error)) {
        fail(error);
      }
    } else if (sign->parsed()) {
      std::string error;
      if (!signPackageFolder(signDir, signKey, signComment, out, error)) {
        fail(error);
      }
    } else if (verify->parsed()) {
      std::optional<std::filesystem::path> key;
      if (verifyKey) {
        key = *verifyKey;
      }
      return verifyPackageFolder(verifyDir, key, out, err) ? kPackOk : kPackFailed;
    } else if (demo->parsed()) {
      const std::filesystem::path folder(demoDir);
      const std::filesystem::path setup =
          demoSetup.empty() ? folder / ".." / "demo-machine" / "data" / "setup.dat"
                            : std::filesystem::path(demoSetup);
      std::string error;
      std::ostringstream quietOut;
      if (!writeDemoPackage(folder, setup.lexically_normal(), demoQuiet ? quietOut : out, error)) {
        fail(error);
      }
    }
  } catch (const Failure& failure) {
    err << "orvik-pack: " << printableLines(failure.message) << "\n";
    return kPackFailed;
  }
  return kPackOk;
}

}  // namespace orvik
