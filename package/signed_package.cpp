#include "package/signed_package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <system_error>

#include "base/text.h"

namespace orvik {
namespace {

// A manifest lists a few dozen files; a signature file is four short lines.
constexpr std::size_t kMaxManifestSize = 64 * 1024;
constexpr std::size_t kMaxSignatureFileSize = 4096;
constexpr std::size_t kMaxKeyFileSize = 4096;

std::string asText(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool plainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// What a failed read of a listed (or the manifest's own) file is called.
std::string readFailure(const std::string& name, PlainRead result) {
  switch (result) {
    case PlainRead::Ok:
      break;
    case PlainRead::Missing:
      return name + " missing";
    case PlainRead::SymbolicLink:
      return name + " is a symbolic link";
    case PlainRead::NotRegular:
      return name + " is not a regular file";
    case PlainRead::TooLarge:
      return name + " is too large";
    case PlainRead::ReadFailed:
      return name + " cannot be read";
  }
  return name + " cannot be read";
}

std::mutex heldMutex;
std::shared_ptr<const PackageTrust> heldPackage;
std::filesystem::path heldFolder;
// A package once held stays alive: a reader may still use its bytes when another replaces it.
std::vector<std::shared_ptr<const PackageTrust>> retiredPackages;

std::filesystem::path canonicalFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(folder, error);
  return error ? folder.lexically_normal() : canonical;
}

}  // namespace

std::vector<std::filesystem::path> trustedKeyFolders(const std::optional<std::string>& named,
                                                     const std::filesystem::path& installation) {
  if (named && !named->empty()) {
    return {*named};
  }
  const char* environment = std::getenv("ORVIK_TRUSTED_KEYS");
  if (environment != nullptr && *environment != '\0') {
    return {environment};
  }
  return {kSystemKeysFolder, installation / kInstallationKeysFolder};
}

bool isUnlistedPackageFile(const std::string& name) {
  return name == kManifestName || name == kManifestSignatureName || name == "setup.dat";
}

std::optional<std::vector<ManifestEntry>> parseManifest(std::string_view text,
                                                        std::string& problem) {
  std::vector<ManifestEntry> entries;
  std::set<std::string> names;
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      continue;
    }
    ManifestEntry entry;
    bool good = line.size() > 66 && line[64] == ' ' && (line[65] == ' ' || line[65] == '*');
    for (std::size_t i = 0; good && i < 32; ++i) {
      const int high = hexValue(line[2 * i]);
      const int low = hexValue(line[2 * i + 1]);
      good = high >= 0 && low >= 0;
      entry.digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    if (good) {
      entry.name = std::string(line.substr(66));
      good = plainFileName(entry.name);
    }
    if (!good) {
      problem = "line " + std::to_string(lineNumber) + " is not \"<SHA-256>  <file name>\"";
      return std::nullopt;
    }
    if (!names.insert(entry.name).second) {
      problem = entry.name + " is listed twice";
      return std::nullopt;
    }
    entries.push_back(std::move(entry));
  }
  if (entries.empty()) {
    problem = "it lists no file";
    return std::nullopt;
  }
  return entries;
}

std::string formatManifest(const std::vector<ManifestEntry>& entries) {
  std::string text;
  for (const ManifestEntry& entry : entries) {
    text += hexText(entry.digest) + "  " + entry.name + "\n";
  }
  return text;
}

std::vector<TrustedKey> loadTrustedKeys(const std::vector<std::filesystem::path>& folders,
                                        std::vector<std::string>& problems) {
  std::vector<TrustedKey> keys;
  for (const std::filesystem::path& folder : folders) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
      if (it->path().extension() == ".pub") {
        files.push_back(it->path());
      }
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
      std::vector<std::uint8_t> bytes;
      // A key may be a link into the vendor's own folder; it only has to be a file.
      std::error_code statError;
      const std::filesystem::path target = std::filesystem::is_symlink(file, statError)
                                               ? std::filesystem::canonical(file, statError)
                                               : file;
      const PlainRead read =
          statError ? PlainRead::Missing : readPlainFile(target, kMaxKeyFileSize, bytes);
      std::string problem;
      std::optional<MinisignPublicKey> key;
      if (read != PlainRead::Ok) {
        problem = readFailure(file.filename().string(), read);
      } else {
        key = parsePublicKey(asText(bytes), problem);
      }
      if (!key) {
        problems.push_back("The trusted key " + file.string() + " is not used: " + problem + ".");
        continue;
      }
      keys.push_back(TrustedKey{*key, file});
    }
  }
  return keys;
}

PlainRead readPlainFile(const std::filesystem::path& path, std::size_t maxBytes,
                        std::vector<std::uint8_t>& out) {
  out.clear();
  // Not following a link and not waiting on a pipe: the bytes come from the folder's own file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      return PlainRead::Missing;
    }
    return errno == ELOOP ? PlainRead::SymbolicLink : PlainRead::ReadFailed;
  }
  PlainRead result = PlainRead::Ok;
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    result = PlainRead::ReadFailed;
  } else if (!S_ISREG(status.st_mode)) {
    result = PlainRead::NotRegular;
  } else if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
    result = PlainRead::TooLarge;
  } else {
    out.resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t got = ::read(fd, out.data() + done, out.size() - done);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;
      }
      done += static_cast<std::size_t>(got);
    }
    // A file that shrank while it was read is read short; one that grew is read to its size
    // at the start: either way the bytes hashed are the bytes used.
    out.resize(done);
    std::uint8_t extra = 0;
    if (done != static_cast<std::size_t>(status.st_size) || ::read(fd, &extra, 1) != 0) {
      result = PlainRead::ReadFailed;
    }
  }
  ::close(fd);
  if (result != PlainRead::Ok) {
    out.clear();
  }
  return result;
}

std::string PackageTrust::signerText() const {
  switch (state) {
    case State::NoKeyUnsigned:
      return "not signed";
    case State::NoKeySigned:
      return "signed by key " + signerKeyId + " (\"" + trustedComment +
             "\"), not checked: no trusted key is installed";
    case State::Verified:
      return "signed by key " + signerKeyId + " (\"" + trustedComment + "\")";
    case State::Refused:
      break;
  }
  return "refused: " + failure;
}

std::string PackageTrust::refusalText() const {
  const bool keyMissing = failure == "not signed" || failure.starts_with("signed by an unknown");
  return "The update package in " + folder.string() + " is refused: " + failure + ". " +
         (keyMissing ? std::string("Use a package signed by the vendor, or install the vendor's "
                                   "public key in ") +
                           kSystemKeysFolder + "/ if this one is genuine."
                     : std::string("It was changed after it was signed: get the update package "
                                   "again from the vendor."));
}

std::string unsignedPackageNotice(const PackageTrust& trust) {
  if (trust.state != PackageTrust::State::NoKeyUnsigned &&
      trust.state != PackageTrust::State::NoKeySigned) {
    return {};
  }
  return "Note: the update package in " + trust.folder.string() +
         (trust.state == PackageTrust::State::NoKeySigned
              ? " is signed, but no trusted key is installed, so its signature is not checked."
              : " is not signed.") +
         " To use only packages signed by the vendor, put the vendor's public key (.pub) in " +
         kSystemKeysFolder + "/.";
}

PackageTrust checkPackage(const std::filesystem::path& folder,
                          const std::vector<TrustedKey>& keys) {
  PackageTrust trust;
  trust.folder = folder;
  std::vector<std::uint8_t> manifestBytes;
  std::vector<std::uint8_t> signatureBytes;
  const PlainRead manifestRead =
      readPlainFile(folder / kManifestName, kMaxManifestSize, manifestBytes);
  const PlainRead signatureRead =
      readPlainFile(folder / kManifestSignatureName, kMaxSignatureFileSize, signatureBytes);
  if (manifestRead == PlainRead::Ok) {
    trust.manifestSha256 = hexText(sha256Digest(manifestBytes));
  }
  std::string problem;
  std::optional<MinisignSignature> signature;
  if (signatureRead == PlainRead::Ok) {
    signature = parseSignature(asText(signatureBytes), problem);
  }
  if (signature) {
    trust.signerKeyId = keyIdText(signature->id);
    trust.trustedComment = signature->trustedComment;
  }

  if (keys.empty()) {
    trust.state = signature && manifestRead == PlainRead::Ok ? PackageTrust::State::NoKeySigned
                                                             : PackageTrust::State::NoKeyUnsigned;
    return trust;
  }
  const auto refuse = [&trust](std::string failure) {
    trust.state = PackageTrust::State::Refused;
    trust.failure = std::move(failure);
    trust.files.clear();
    return trust;
  };
  if (signatureRead == PlainRead::Missing) {
    return refuse("not signed");
  }
  if (signatureRead != PlainRead::Ok) {
    return refuse(readFailure(kManifestSignatureName, signatureRead));
  }
  if (!signature) {
    return refuse(std::string(kManifestSignatureName) + " is damaged (" + problem + ")");
  }
  if (manifestRead != PlainRead::Ok) {
    return refuse(readFailure(kManifestName, manifestRead));
  }
  const auto key = std::find_if(keys.begin(), keys.end(), [&](const TrustedKey& trusted) {
    return trusted.key.id == signature->id;
  });
  if (key == keys.end()) {
    return refuse("signed by an unknown key " + trust.signerKeyId);
  }
  switch (verifySignature(key->key, *signature, manifestBytes)) {
    case SignatureCheck::Good:
      break;
    case SignatureCheck::BadSignature:
      return refuse("bad signature");
    case SignatureCheck::BadTrustedComment:
      return refuse("bad signature of the trusted comment");
  }
  const auto entries = parseManifest(asText(manifestBytes), problem);
  if (!entries) {
    return refuse(std::string(kManifestName) + " is damaged (" + problem + ")");
  }
  for (const ManifestEntry& entry : *entries) {
    std::vector<std::uint8_t> bytes;
    const PlainRead read = readPlainFile(folder / entry.name, kMaxSignedFileSize, bytes);
    if (read != PlainRead::Ok) {
      return refuse(readFailure(entry.name, read));
    }
    if (sha256Digest(bytes) != entry.digest) {
      return refuse(entry.name + " changed");
    }
    trust.files.emplace(entry.name, std::move(bytes));
  }
  // Every file the tool could take from the folder must be one the vendor listed.
  std::error_code error;
  std::vector<std::string> others;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (trust.files.count(name) == 0 && !isUnlistedPackageFile(name) &&
        !it->is_directory(typeError)) {
      others.push_back(name);
    }
  }
  if (error) {
    return refuse("the folder cannot be listed (" + error.message() + ")");
  }
  if (!others.empty()) {
    std::sort(others.begin(), others.end());
    std::error_code linkError;
    return refuse(others.front() + (std::filesystem::is_symlink(folder / others.front(), linkError)
                                        ? " is a symbolic link"
                                        : " not listed"));
  }
  trust.state = PackageTrust::State::Verified;
  return trust;
}

void holdVerifiedPackage(std::shared_ptr<const PackageTrust> trust) {
  const std::lock_guard lock(heldMutex);
  heldFolder = trust ? canonicalFolder(trust->folder) : std::filesystem::path();
  if (heldPackage) {
    retiredPackages.push_back(std::move(heldPackage));
  }
  heldPackage = std::move(trust);
}

HeldFile heldPackageFile(const std::filesystem::path& path, std::span<const std::uint8_t>& bytes) {
  std::shared_ptr<const PackageTrust> held;
  std::filesystem::path folder;
  {
    const std::lock_guard lock(heldMutex);
    held = heldPackage;
    folder = heldFolder;
  }
  if (!held || held->state != PackageTrust::State::Verified) {
    return HeldFile::NotHeld;
  }
  const std::string name = path.filename().string();
  if (isUnlistedPackageFile(name) || canonicalFolder(path.parent_path()) != folder) {
    return HeldFile::NotHeld;
  }
  const auto found = held->files.find(name);
  if (found == held->files.end()) {
    return HeldFile::NotListed;
  }
  // The package is held for the rest of the process, so the bytes outlive the caller's use.
  bytes = found->second;
  return HeldFile::Found;
}

}  // namespace orvik
