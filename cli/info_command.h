#pragma once

#include <ostream>

namespace orvik {

class RadioManager;

// Connects, checks the cable's mode, reads the radio's identity and prints it. Returns the
// process exit code: 0 when the identity was read.
int runInfoCommand(RadioManager& manager, std::ostream& out, std::ostream& err);

}  // namespace orvik
