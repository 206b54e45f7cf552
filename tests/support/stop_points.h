#pragma once

#include <functional>

#include "sim/sim_radio.h"

namespace orvik::testing {

// Where an update is interrupted in the tests of its completion: at the occurrence-th request
// of the kind that matches.
struct StopPoint {
  const char* name;
  RequestKind kind;
  int occurrence;
  // Only requests of the kind that also match this count; all of them when empty.
  std::function<bool(const LoggedRequest&)> matches;

  bool reached(const LoggedRequest& request, int& seen) const {
    return request.kind == kind && (!matches || matches(request)) && ++seen == occurrence;
  }
};

inline void PrintTo(const StopPoint& point, std::ostream* os) {
  *os << point.name;
}

// The six points the completion must make good: after the first erase, in the middle of the
// firmware, at the block reset, in the middle of the DYN restore and of the contact restore,
// and before the re-protection (the final protection mode is the third protection request).
inline const std::vector<StopPoint>& updateStopPoints() {
  static const std::vector<StopPoint> points = {
      {"AfterTheFirstErase", RequestKind::EraseFlash, 2, {}},
      {"InTheMiddleOfTheFirmware", RequestKind::WriteFlash, 3, {}},
      {"AtTheBlockReset", RequestKind::SoftpotWrite, 1,
       [](const LoggedRequest& request) {
         return request.bytes.size() > 4 && request.bytes[4] == 0x2E;
       }},
      {"InTheMiddleOfTheDynRestore", RequestKind::MemWrite, 3, {}},
      {"InTheMiddleOfTheContactRestore", RequestKind::ContactWrite, 2, {}},
      {"BeforeTheReprotection", RequestKind::Protection, 3, {}},
  };
  return points;
}

}  // namespace orvik::testing
