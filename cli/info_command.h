#pragma once

#include <ostream>

namespace orvik {

class RadioInfo;

// Connects, checks the cable's mode, reads the radio's identity and prints it. Returns the
// process exit code: 0 when the identity was read.
int runInfoCommand(RadioInfo& radio, std::ostream& out, std::ostream& err);

}  // namespace orvik
