#pragma once

#include <filesystem>
#include <ostream>

namespace orvik {

// Lists every file of a package folder as the tool would see it: for a container its
// internal name, type and prefix, version, payload length, whether the digest holds, whether
// the tool's loader takes it and what its content looks like; config.xml and setup.dat are
// shown decoded. True when the folder holds a readable config.xml and every container loads.
bool inspectPackage(const std::filesystem::path& folder, std::ostream& out);

}  // namespace orvik
