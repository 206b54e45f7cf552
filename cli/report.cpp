#include "cli/report.h"

#include "errors/error_log.h"
#include "errors/error_text.h"

namespace orvik {

void reportFailure(std::ostream& err, std::string_view result) {
  err << result << '\n';
  for (const ErrorEntry& entry : errorEntries()) {
    err << "  " << entry.text << '\n';
    errorLog().logText(entry.text);
  }
  removeErrors(ErrorCategory::OK);
}

}  // namespace orvik
