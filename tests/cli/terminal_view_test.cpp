#include "cli/terminal_view.h"

#include "cli/failure_help.h"
#include "errors/error_log.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace orvik {
namespace {

// The progress of an update as its command reports it: the steps it begins and the positions
// it reaches, ending with the jump to 100 and the clearing 0.
void reportUpdate(TerminalView& view) {
  view.setProgressStep("backup");
  for (unsigned p : {1U, 5U, 10U, 11U}) {
    view.setProgress(p);
  }
  view.setProgressStep("erase");
  view.setProgressStep("firmware");
  for (unsigned p : {22U, 30U, 35U, 70U, 77U}) {
    view.setProgress(p);
  }
  view.setProgressStep("codeplug");
  view.setProgress(88U);
  view.setProgressStep("restore");
  view.setProgress(99U);
  view.setProgressStep("finalize");
  view.setProgress(100U);
  view.setProgress(0U);
}

TEST(TerminalViewProgress, IntoAPipeALinePerStepAndPerTenPerCent) {
  std::istringstream in;
  std::ostringstream err;
  TerminalView view(in, err, TerminalView::Options{});
  reportUpdate(view);
  EXPECT_EQ(err.str(),
            "0% backup\n10% backup\n11% erase\n11% firmware\n22% firmware\n30% firmware\n"
            "70% firmware\n77% codeplug\n88% codeplug\n88% restore\n99% restore\n99% finalize\n"
            "100% finalize\n");
}

TEST(TerminalViewProgress, OnATerminalTheBarNamesItsStepAndEndsFull) {
  std::istringstream in;
  std::ostringstream err;
  TerminalView::Options options;
  options.progressBar = true;
  TerminalView view(in, err, options);
  view.setProgressStep("firmware");
  view.setProgress(50);
  view.setProgressStep("erase");
  view.setProgress(100);
  view.setProgress(0);
  const std::string empty(40, ' ');
  const std::string half = std::string(20, '#') + std::string(20, ' ');
  EXPECT_EQ(err.str(), "\r[" + empty + "] 0% firmware\r[" + half + "] 50% firmware\r[" + half +
                           "] 50% erase   \r[" + std::string(40, '#') + "] 100% erase   \n");
}

// Once the update has failed, its jump to the end is not shown as progress.
TEST(TerminalViewProgress, AFailedUpdateStopsItsProgressWhereItWas) {
  std::istringstream in;
  std::ostringstream err;
  TerminalView view(in, err, TerminalView::Options{});
  view.setProgressStep("firmware");
  view.setProgress(40);
  view.setProgressStep("");
  view.setProgress(100);
  view.setProgress(0);
  EXPECT_EQ(err.str(), "0% firmware\n40% firmware\n");
}

// A question only a person may answer: --yes does not answer it, nor does a headless station;
// the question is printed all the same, and only a typed yes is a Yes.
TEST(TerminalViewQuestions, APersonsQuestionIsAnsweredByNoRule) {
  const struct {
    const char* name;
    bool answerYes;
    bool station;
    const char* typed;
    int answer;
    const char* printed;
  } cases[] = {
      {"--yes, nothing typed", true, false, "", kAnswerNo,
       "Write it?\n[y/N] (not answered by --yes) \n"},
      {"--yes, yes typed", true, false, "yes\n", kAnswerYes,
       "Write it?\n[y/N] (not answered by --yes) "},
      {"no typed", false, false, "n\n", kAnswerNo, "Write it?\n[y/N] "},
      {"a station", true, true, "yes\n", kAnswerNo,
       "Write it?\n[y/N] n (only a person at the radio can decide this)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::istringstream in(c.typed);
    std::ostringstream err;
    TerminalView::Options options;
    options.answerYes = c.answerYes;
    options.station = c.station;
    TerminalView view(in, err, options);
    EXPECT_EQ(view.askPerson("Write it?"), c.answer);
    EXPECT_EQ(err.str(), c.printed);
    // The same view answers the ordinary questions by its rule.
    if (c.answerYes && !c.station) {
      EXPECT_EQ(view.showMessage("Go on?", kStyleQuestion), kAnswerYes);
    }
  }
}

// The next step below a failed update fits its cause: a folder the update could not write
// into is fixed at the computer, an unfinished update is completed by running it again, and
// only otherwise is the radio or the cable to be checked.
TEST(FailureHelp, TheNextStepFitsTheCause) {
  struct Case {
    const char* name;
    ActionOutcome outcome;
    std::string said;
  };
  const auto failed = [](const char* cause, bool unfinished, const char* folder) {
    ActionOutcome outcome("Update failed.", kStyleError, false);
    outcome.cause = cause;
    outcome.unfinished = unfinished;
    outcome.unwritableFolder = folder;
    return outcome;
  };
  const std::vector<Case> cases = {
      {"no room for the backup",
       failed("Error:failed to save the personality backup [/m/backup/A.orvp].", false,
              "/m/backup"),
       "Cause: Error:failed to save the personality backup [/m/backup/A.orvp].\n"
       "Next: free space on the disk that holds /m/backup, or make that folder writable for "
       "this user, then run orvik-cli update again; the radio was not changed.\n"},
      {"a read-only journal",
       failed("Error:failed to record the update in the journal: cannot write /m/journal/A.", false,
              "/m/journal"),
       "Cause: Error:failed to record the update in the journal: cannot write /m/journal/A.\n"
       "Next: free space on the disk that holds /m/journal, or make that folder writable for "
       "this user, then run orvik-cli update again; the radio was not changed.\n"},
      {"unfinished", failed("Error:failed to soft reset radio (0x02c).", true, ""),
       "Cause: Error:failed to soft reset radio (0x02c).\n"
       "Next: keep the radio switched on and on the cable, then run orvik-cli update again; it "
       "completes the update.\n"},
      {"the radio", failed("Error:failed to request for test mode after 2 trials.", false, ""),
       "Cause: Error:failed to request for test mode after 2 trials.\n"
       "Next: check that the radio is switched on and the cable is plugged in, then run "
       "orvik-cli update again.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream err;
    printFailureHelp(c.outcome, errorLog().linesWritten(), err);
    EXPECT_EQ(err.str(), c.said);
  }
}

}  // namespace
}  // namespace orvik
