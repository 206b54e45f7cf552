#include "cli/failure_help.h"

#include "app/string_table.h"
#include "base/text.h"
#include "errors/error_log.h"

namespace orvik {

void printFailureHelp(const ActionOutcome& outcome, std::uint64_t logLinesBefore,
                      std::ostream& err) {
  if (outcome.text.starts_with(stringText(StringId::UpdateFailed))) {
    if (!outcome.cause.empty()) {
      err << "Cause: " << printableLines(outcome.cause) << '\n';
    }
    if (!outcome.unwritableFolder.empty()) {
      err << "Next: free space on the disk that holds " << outcome.unwritableFolder.string()
          << ", or make that folder writable for this user, then run orvik-cli update again; "
             "the radio was not changed.\n";
    } else {
      err << (outcome.unfinished
                  ? "Next: keep the radio switched on and on the cable, then run orvik-cli "
                    "update again; it completes the update.\n"
                  : "Next: check that the radio is switched on and the cable is plugged in, "
                    "then run orvik-cli update again.\n");
    }
  }
  // Only a log that holds something about this action is worth sending the user to.
  if (errorLog().linesWritten() != logLinesBefore) {
    err << "Details are in " << errorLog().path().string() << '\n';
  } else if (const std::string problem = errorLog().openProblem(); !problem.empty()) {
    err << "The error log " << printableText(errorLog().path().string())
        << " could not be written: " << problem
        << ". Move what is at that name out of the way; the tool then starts a new log there.\n";
  }
}

}  // namespace orvik
