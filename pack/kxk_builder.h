#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

// A version as the package files store it: a letter and three numbers, "R01.03.00".
struct PackVersion {
  char letter = 'R';
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  std::uint8_t patch = 0;
};

// "R01.03.00": one letter, then three numbers of 0 to 255 separated by dots.
std::optional<PackVersion> parsePackVersion(const std::string& text);
std::string packVersionText(const PackVersion& version);
// The four bytes as the little-endian number the containers carry.
std::uint32_t packVersionWord(const PackVersion& version);

// What goes into one container. Which prefix fields count depends on the type: 0 takes the
// model number and name, 1 and 2 the codeplug version, 3 the region name.
struct KxkContents {
  std::int32_t type = 0;
  PackVersion version;
  std::string internalName;
  std::uint32_t modelNumber = 0;
  std::string modelName;
  PackVersion codeplugVersion;
  std::string regionName;
  std::vector<std::uint8_t> body;  // plain; scrambled on the way in
};

// Builds the container bytes: header, digest, prefix and scrambled body. Names are written
// as given (8-bit). Refuses, with a reason, what the tool's reader would refuse: a type
// outside 0 to 3, an internal name of more than 255 bytes, a model name of more than 20 or a
// region name of more than 10 bytes.
std::optional<std::vector<std::uint8_t>> buildKxkFile(const KxkContents& contents,
                                                      std::string& error);

}  // namespace orvik
