#include "tests/support/error_text_fixture.h"

namespace orvik::testing {

std::vector<std::string> errorLines() {
  std::vector<std::string> lines;
  for (const ErrorEntry& entry : errorEntries()) {
    lines.push_back(std::to_string(static_cast<int>(entry.category)) + ":" + entry.text);
  }
  return lines;
}

}  // namespace orvik::testing
