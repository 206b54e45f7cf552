#include "pack/package_signing.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/file_replace.h"
#include "config/scramble.h"
#include "package/minisign.h"
#include "package/signed_package.h"

#include <pugixml.hpp>

namespace orvik {
namespace {

constexpr std::size_t kMaxKeyFile = 4096;

std::span<const std::uint8_t> textBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A file anyone may read (a public key, the manifest pair), replaced when it is there.
bool writeReadableFile(const std::filesystem::path& path, const std::string& text,
                       std::string& error) {
  int errorNumber = 0;
  switch (createFileWithContents(path, textBytes(text), errorNumber)) {
    case CreateFileResult::Created:
      if (::chmod(path.c_str(), 0644) != 0) {
        error = "Cannot make " + path.string() + " readable: " + std::strerror(errno);
        return false;
      }
      return true;
    case CreateFileResult::Exists:
      if (replaceFileContents(path, textBytes(text))) {
        return true;
      }
      error = "Cannot replace " + path.string() + " (is it a writable regular file?)";
      return false;
    case CreateFileResult::Failed:
      break;
  }
  error = "Cannot write " + path.string() + ": " + std::strerror(errorNumber);
  return false;
}

std::optional<std::string> readKeyText(const std::filesystem::path& path, std::string& error) {
  std::vector<std::uint8_t> bytes;
  std::error_code ec;
  const std::filesystem::path target =
      std::filesystem::is_symlink(path, ec) ? std::filesystem::canonical(path, ec) : path;
  const PlainRead read = readPlainFile(target, kMaxKeyFile, bytes);
  if (read != PlainRead::Ok) {
    error = "Cannot read the key " + path.string() +
            (read == PlainRead::Missing ? ": no such file" : ": not a readable small file");
    return std::nullopt;
  }
  return std::string(bytes.begin(), bytes.end());
}

std::filesystem::path installationFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path().parent_path();
}

}  // namespace

bool generateKeyPair(const std::string& name, const std::filesystem::path& folder,
                     std::ostream& out, std::string& error) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    error = "--name must be a plain file name, not \"" + name + "\"";
    return false;
  }
  const std::filesystem::path publicPath = folder / (name + ".pub");
  const std::filesystem::path secretPath = folder / (name + ".key");
  std::error_code ec;
  // A folder named for the keys is made, for its owner alone; an existing one is used as it is.
  if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "Cannot make the folder " + folder.string() + ": " + std::strerror(errno);
    return false;
  }
  for (const auto& path : {publicPath, secretPath}) {
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
      error = path.string() + " already exists; a key is never replaced. Choose another --name.";
      return false;
    }
  }
  const auto key = generateSecretKey();
  if (!key) {
    error = "No randomness for a new key (libcrypto's generator failed)";
    return false;
  }
  int errorNumber = 0;
  const std::string secretText = formatSecretKey(*key);
  // Readable by its owner only; created, never written over another file.
  switch (createFileWithContents(secretPath, textBytes(secretText), errorNumber)) {
    case CreateFileResult::Created:
      break;
    case CreateFileResult::Exists:
      error = secretPath.string() + " already exists; a key is never replaced.";
      return false;
    case CreateFileResult::Failed:
      error = "Cannot write " + secretPath.string() + ": " + std::strerror(errorNumber);
      return false;
  }
  if (!writeReadableFile(publicPath, formatPublicKey(publicKeyOf(*key)), error)) {
    std::filesystem::remove(secretPath, ec);
    return false;
  }
  out << "Key " << keyIdText(key->id) << ": public key " << publicPath.string()
      << " (give it to dealers), secret key " << secretPath.string()
      << " (keep it secret; it has no password).\n";
  return true;
}

std::string packageTrustedComment(const std::filesystem::path& folder) {
  std::string comment = "timestamp:" + std::to_string(std::time(nullptr));
  std::vector<std::uint8_t> bytes;
  if (readPlainFile(folder / "config.xml", 1024 * 1024, bytes) != PlainRead::Ok) {
    return comment;
  }
  Scramble(bytes);
  pugi::xml_document document;
  if (!document.load_buffer(bytes.data(), bytes.size())) {
    return comment;
  }
  const pugi::xml_node root = document.document_element();
  comment += std::string("\tregion:") + root.attribute("name").value();
  comment += std::string("\tfirmware:") + root.child("fi").attribute("ver").value();
  comment += std::string("\tkeypad:") + root.child("kp").attribute("ver").value();
  std::vector<std::string> codeplugs;
  for (const pugi::xml_node model : root.children("mo")) {
    for (const pugi::xml_node block : model.children("bl")) {
      const std::string version = block.attribute("ver").value();
      if (std::find(codeplugs.begin(), codeplugs.end(), version) == codeplugs.end()) {
        codeplugs.push_back(version);
      }
    }
  }
  std::sort(codeplugs.begin(), codeplugs.end());
  comment += "\tcodeplug:";
  for (std::size_t i = 0; i < codeplugs.size(); ++i) {
    comment += (i == 0 ? "" : ",") + codeplugs[i];
  }
  return comment;
}

bool signPackageFolder(const std::filesystem::path& folder, const std::filesystem::path& secretKey,
                       const std::optional<std::string>& comment, std::ostream& out,
                       std::string& error) {
  const auto keyText = readKeyText(secretKey, error);
  if (!keyText) {
    return false;
  }
  std::string problem;
  const auto key = parseSecretKey(*keyText, problem);
  if (!key) {
    error = "The secret key " + secretKey.string() + " cannot be used: " + problem;
    return false;
  }
  std::error_code ec;
  // A link in their place would have the files written wherever it points.
  for (const char* name : {kManifestName, kManifestSignatureName}) {
    const auto status = std::filesystem::symlink_status(folder / name, ec);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
      error = "Cannot sign " + folder.string() + ": " + name + " is not a regular file";
      return false;
    }
  }
  std::vector<std::string> names;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (isUnlistedPackageFile(name) || it->is_directory(typeError)) {
      continue;
    }
    if (it->is_symlink(typeError) || !it->is_regular_file(typeError)) {
      error = "Cannot sign " + folder.string() + ": " + name +
              " is not a regular file (a signed package holds only plain files)";
      return false;
    }
    names.push_back(name);
  }
  if (ec) {
    error = "Cannot list " + folder.string() + ": " + ec.message();
    return false;
  }
  if (std::find(names.begin(), names.end(), "config.xml") == names.end()) {
    error = "Cannot sign " + folder.string() + ": it holds no config.xml";
    return false;
  }
  std::sort(names.begin(), names.end());
  std::vector<ManifestEntry> entries;
  for (const std::string& name : names) {
    std::vector<std::uint8_t> bytes;
    if (readPlainFile(folder / name, kMaxSignedFileSize, bytes) != PlainRead::Ok) {
      error = "Cannot read " + (folder / name).string() + " (or it is too large for a package)";
      return false;
    }
    entries.push_back(ManifestEntry{name, sha256Digest(bytes)});
  }
  const std::string manifest = formatManifest(entries);
  const auto signature =
      signMessage(*key, textBytes(manifest), comment ? *comment : packageTrustedComment(folder));
  if (!signature) {
    error = "Signing failed in libcrypto";
    return false;
  }
  if (!writeReadableFile(folder / kManifestName, manifest, error) ||
      !writeReadableFile(folder / kManifestSignatureName, formatSignature(*signature), error)) {
    return false;
  }
  out << "Signed " << entries.size() << " files of " << folder.string() << " with key "
      << keyIdText(key->id) << ": " << (folder / kManifestName).string() << ", "
      << (folder / kManifestSignatureName).string() << "\n";
  return true;
}

bool verifyPackageFolder(const std::filesystem::path& folder,
                         const std::optional<std::filesystem::path>& publicKey, std::ostream& out,
                         std::ostream& err) {
  std::vector<TrustedKey> keys;
  if (publicKey) {
    std::string error;
    const auto text = readKeyText(*publicKey, error);
    std::string problem;
    const auto key = text ? parsePublicKey(*text, problem) : std::nullopt;
    if (!key) {
      err << (text ? "The public key " + publicKey->string() + " cannot be used: " + problem
                   : error)
          << "\n";
      return false;
    }
    keys.push_back(TrustedKey{*key, *publicKey});
  } else {
    std::vector<std::string> problems;
    keys = loadTrustedKeys(trustedKeyFolders(std::nullopt, installationFolder()), problems);
    for (const std::string& problem : problems) {
      err << problem << "\n";
    }
    if (keys.empty()) {
      err << "No trusted key is installed; name the vendor's public key with --key FILE.pub.\n";
      return false;
    }
  }
  const PackageTrust trust = checkPackage(folder, keys);
  if (trust.state != PackageTrust::State::Verified) {
    err << "NOT VERIFIED: " << folder.string() << ": " << trust.failure << "\n";
    return false;
  }
  out << "Verified: " << folder.string() << ", " << trust.files.size() << " files, "
      << trust.signerText() << "\n";
  return true;
}

}  // namespace orvik
