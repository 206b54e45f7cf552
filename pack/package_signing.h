#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace orvik {

// A new key pair in minisign's formats: NAME.pub and NAME.key (no password, readable by its
// owner only) in the folder. Existing files are never replaced. The secret key is not shown.
bool generateKeyPair(const std::string& name, const std::filesystem::path& folder,
                     std::ostream& out, std::string& error);

// Writes SHA256SUMS over config.xml and every container of the folder (every regular file
// but the manifest pair and setup.dat) and SHA256SUMS.minisig, signed with the secret key.
// Without a comment the trusted comment names the region and the package's versions.
bool signPackageFolder(const std::filesystem::path& folder, const std::filesystem::path& secretKey,
                       const std::optional<std::string>& comment, std::ostream& out,
                       std::string& error);

// Checks the folder as the tool does: against the public key given, or else the trusted keys
// the tool would use (ORVIK_TRUSTED_KEYS, else /etc/orvik-update-tool/keys and the
// installation's keys/). Says who signed it or what failed; true when it verifies.
bool verifyPackageFolder(const std::filesystem::path& folder,
                         const std::optional<std::filesystem::path>& publicKey, std::ostream& out,
                         std::ostream& err);

// The trusted comment that signPackageFolder writes for the folder's config.xml.
std::string packageTrustedComment(const std::filesystem::path& folder);

}  // namespace orvik
