#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "package/minisign.h"

namespace orvik {

// A package folder may carry SHA256SUMS (sha256sum's output over config.xml and every
// container) and SHA256SUMS.minisig, a minisign signature of it. When a trusted key is
// installed, a package is used only when the signature verifies with one of them and every
// file of the folder is listed with the bytes it has.
inline constexpr const char* kManifestName = "SHA256SUMS";
inline constexpr const char* kManifestSignatureName = "SHA256SUMS.minisig";
// Files of a package folder that the manifest need not list: the manifest pair itself, and
// the machine's setup file, which each machine copies once and then changes as its own.
bool isUnlistedPackageFile(const std::string& name);

// Where the trusted keys are looked for by default.
inline constexpr const char* kSystemKeysFolder = "/etc/orvik-update-tool/keys";
inline constexpr const char* kInstallationKeysFolder = "keys";
// The largest file a signed package lists: the configuration file's bound, which is above the
// containers'.
inline constexpr std::size_t kMaxSignedFileSize = 4 * 1024 * 1024;

// The folders whose keys are trusted for one run: the one named (--trusted-keys), else the one
// ORVIK_TRUSTED_KEYS names, else the system's and the installation's keys/.
std::vector<std::filesystem::path> trustedKeyFolders(const std::optional<std::string>& named,
                                                     const std::filesystem::path& installation);

struct ManifestEntry {
  std::string name;
  Sha256Digest digest{};
};

// sha256sum's format: "<64 hex>  <name>" (or " *<name>"), one a line. Names must be plain file
// names of the folder. nullopt with the problem otherwise.
std::optional<std::vector<ManifestEntry>> parseManifest(std::string_view text,
                                                        std::string& problem);
std::string formatManifest(const std::vector<ManifestEntry>& entries);

struct TrustedKey {
  MinisignPublicKey key;
  std::filesystem::path file;
};

// Every "*.pub" file directly in the folders, in name order; a folder that does not exist
// holds none. A file that is not a public key is skipped and named in problems.
std::vector<TrustedKey> loadTrustedKeys(const std::vector<std::filesystem::path>& folders,
                                        std::vector<std::string>& problems);

// Reads a regular file (never through a symbolic link) of at most maxBytes, once.
enum class PlainRead { Ok, Missing, SymbolicLink, NotRegular, TooLarge, ReadFailed };
PlainRead readPlainFile(const std::filesystem::path& path, std::size_t maxBytes,
                        std::vector<std::uint8_t>& out);

// The outcome of checking one package folder against the trusted keys.
struct PackageTrust {
  enum class State {
    NoKeyUnsigned,  // no trusted key installed, the package has no signature: used as it is
    NoKeySigned,    // no trusted key installed, the package is signed (not checked)
    Verified,       // signed by a trusted key, every file as listed
    Refused,        // a trusted key is installed and the package fails the check
  };
  State state = State::NoKeyUnsigned;
  std::filesystem::path folder;
  // What failed, as a phrase: "not signed", "signed by an unknown key 0123456789ABCDEF",
  // "bad signature", "config.xml changed", "fw.kxk not listed", "fw.kxk missing", ...
  std::string failure;
  std::string signerKeyId;
  std::string trustedComment;
  std::string manifestSha256;  // hex; empty without a manifest
  // The bytes of every listed file as they were read and hashed (Verified only); the update
  // uses these and never reads the folder again.
  std::map<std::string, std::vector<std::uint8_t>> files;

  bool refused() const { return state == State::Refused; }
  // One line for the user: who signed the package, or that nobody did.
  std::string signerText() const;
  // The line below the common message when the package is refused.
  std::string refusalText() const;
};

// The notice for a package used without a signature check, or "" when it was checked.
std::string unsignedPackageNotice(const PackageTrust& trust);

// Reads and checks the folder. With no key every file is left on disk and the state only says
// whether a signature is there.
PackageTrust checkPackage(const std::filesystem::path& folder, const std::vector<TrustedKey>& keys);

// The verified package whose held bytes replace reads of its files, for the whole process.
// Readers of package files (containers, the configuration) ask heldPackageFile first.
void holdVerifiedPackage(std::shared_ptr<const PackageTrust> trust);
enum class HeldFile { NotHeld, Found, NotListed };
HeldFile heldPackageFile(const std::filesystem::path& path, std::span<const std::uint8_t>& bytes);

}  // namespace orvik
