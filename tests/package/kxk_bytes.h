#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvik::testing {

// Container bytes laid out field by field for tests, independent of the package builder.
// The prefix goes in as given and the body is scrambled; declaredLength overrides P.
struct KxkBytes {
  std::uint8_t letter = 'R';
  std::uint8_t major = 1;
  std::uint8_t minor = 3;
  std::uint8_t patch = 0;
  std::uint8_t type = 1;
  std::string name = "NAME";
  std::vector<std::uint8_t> prefix = {'R', 1, 3, 0};
  std::string body = "body";
  long long declaredLength = -1;  // -1: prefix + body
  std::vector<std::uint8_t> trailer;
  bool fixDigest = true;

  std::vector<std::uint8_t> build() const;
};

// A type 0 prefix: model number (little-endian), length byte, name bytes.
std::vector<std::uint8_t> modelPrefix(std::uint32_t number, const std::string& modelName,
                                      int lengthByte = -1);
// A type 3 prefix: length byte, region bytes.
std::vector<std::uint8_t> regionPrefix(const std::string& region);

}  // namespace orvik::testing
