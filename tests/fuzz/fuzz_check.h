#pragma once

#include <cstdlib>

namespace orvik::fuzzing {

// An invariant a fuzz target insists on: breaking it is a finding.
inline void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace orvik::fuzzing
