#pragma once

#include <map>
#include <string>

#include "package/kxk_header.h"

namespace orvik {

// The package folder indexed by what its container headers say. Keys are exact and
// case-sensitive; a later file with the same key replaces the earlier entry.
struct PackageCatalogue {
  std::map<std::string, KxkHeaderInfo> byName;        // file name in the folder -> header
  std::map<std::string, std::string> byInternalName;  // internal name -> full path
};

// Catalogues every container in the folder that the pattern names; the pattern is the folder
// followed by "*.*" (a pattern without it names the folder itself). Entries are visited in
// ascending file-name order, so the last one in that order wins a shared internal name.
// Returns the number of files catalogued. Lines that entries which are not containers would
// leave are cleared after each entry, together with the rest of the error text.
int scanPackage(const std::string& pattern, PackageCatalogue& catalogue);

// The full path of the file with the internal name, when the catalogue has one.
bool findByInternalName(const PackageCatalogue& catalogue, const std::string& internalName,
                        std::string& path);

}  // namespace orvik
