#pragma once

#include <cstdint>
#include <ostream>

#include "workflow/main_controller.h"

namespace orvik {

// What the terminal adds below a failed action's message: after "Update failed." the failure
// line that ended the update and what to do next, and, when the action wrote to the error log,
// where that log lies.
void printFailureHelp(const ActionOutcome& outcome, std::uint64_t logLinesBefore,
                      std::ostream& err);

}  // namespace orvik
