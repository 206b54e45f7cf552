#pragma once

#include <string>
#include <vector>

#include "base/text.h"

namespace orvik {

// Which layer reported a line of the error text; the values are what callers pass and what
// the main window decides on.
enum class ErrorCategory : int {
  OK = 0,  // never appended; removeErrors(OK) clears everything
  FILE = 1,
  TOVR = 2,
  PROT = 3,
  CPG = 4,
  FLASH = 5,
  INI = 6,
  KXK = 7,
  RESOURCE = 8,
  UPDATE = 9,
  OTHER = 10,
};

struct ErrorEntry {
  ErrorCategory category;
  std::string text;
};

// The longest line kept, in characters; longer output is cut.
inline constexpr std::size_t kMaxErrorTextLength = 255;

// The process-wide error text: an ordered list of categorised lines, oldest first, that lower
// layers append to as they fail and upper layers read, prune and clear. A lock guards it.
bool appendError(ErrorCategory category, const char* format, ...) ORVIK_PRINTF(2, 3);
std::string firstErrorText();
ErrorCategory firstErrorCategory();
void removeErrors(ErrorCategory category);
// Every line, newest first, each followed by "\n"; "OK" when empty.
std::string joinedErrorText();
// A copy of the whole list, oldest first.
std::vector<ErrorEntry> errorEntries();

}  // namespace orvik
