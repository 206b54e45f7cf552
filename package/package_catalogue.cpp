#include "package/package_catalogue.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "errors/error_text.h"

namespace orvik {

int scanPackage(const std::string& pattern, PackageCatalogue& catalogue) {
  catalogue.byName.clear();
  catalogue.byInternalName.clear();

  constexpr std::string_view kAllFiles = "*.*";
  std::string folderText = pattern;
  if (folderText.ends_with(kAllFiles)) {
    folderText.resize(folderText.size() - kAllFiles.size());
  }
  // Callers build the pattern as "<config file>/../*.*"; resolve the ".." by name, as the
  // search the format comes from does, since a file is not a folder to step out of here.
  std::filesystem::path folder = std::filesystem::path(folderText).lexically_normal();
  if (folder.empty()) {
    folder = ".";
  }

  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  if (error) {
    appendError(ErrorCategory::FILE, "Error:failed to find the file [%s].", pattern.c_str());
    return 0;
  }
  for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  if (error) {
    appendError(ErrorCategory::FILE, "Error:failed to find the file [%s].", pattern.c_str());
    return 0;
  }
  std::sort(names.begin(), names.end());

  int count = 0;
  for (const std::string& name : names) {
    const std::filesystem::path fullPath = folder / name;
    KxkHeaderInfo info;
    if (readKxkHeader(fullPath, &info)) {
      catalogue.byInternalName[info.internalName] = fullPath.string();
      catalogue.byName[name] = std::move(info);
      ++count;
    }
    removeErrors(ErrorCategory::OK);
  }
  return count;
}

bool findByInternalName(const PackageCatalogue& catalogue, const std::string& internalName,
                        std::string& path) {
  const auto found = catalogue.byInternalName.find(internalName);
  if (found == catalogue.byInternalName.end()) {
    return false;
  }
  path = found->second;
  return true;
}

}  // namespace orvik
