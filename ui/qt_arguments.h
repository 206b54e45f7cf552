#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvik {

// The arguments left over after the tool's own options must all be Qt's own (-platform NAME,
// -style=NAME, -reverse, ...; with one dash or two). Returns the first one that is not, so a
// misspelt option of the tool stops the start instead of being dropped.
std::optional<std::string> firstNonQtArgument(const std::vector<std::string>& arguments);

// The style named with -style NAME or -style=NAME (one dash or two), which Qt applies itself;
// the last one counts. Nothing when none is named and the tool's own default applies.
std::optional<std::string> styleArgument(const std::vector<std::string>& arguments);

}  // namespace orvik
