#pragma once

#include <ostream>
#include <string_view>

namespace orvik {

// Prints the result text, then what the layers below reported, oldest first, and clears the
// error text.
void reportFailure(std::ostream& err, std::string_view result);

}  // namespace orvik
