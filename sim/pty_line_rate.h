#pragma once

#include <cstdint>

namespace orvik {

// The rate the client has set on the pseudo-terminal, read through its master: the rate
// the line would run at. 0 when it cannot be read.
std::uint32_t ptyLineRate(int masterFd);

}  // namespace orvik
