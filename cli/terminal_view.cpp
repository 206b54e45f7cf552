#include "cli/terminal_view.h"

#include <unistd.h>

#include <algorithm>
#include <istream>
#include <ostream>

#include "base/text.h"
#include "cli/hidden_typing.h"
#include "exec/message_window.h"

namespace orvik {
namespace {

constexpr int kBarWidth = 40;
// The longest step name ("firmware", "codeplug", "finalize").
constexpr std::size_t kLabelWidth = 8;

bool isYes(std::string answer) {
  while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r')) {
    answer.pop_back();
  }
  for (char& c : answer) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return answer == "y" || answer == "yes";
}

bool isTerminal(int fd) {
  return fd >= 0 && ::isatty(fd) == 1;
}

}  // namespace

TerminalView::TerminalView(std::istream& in, std::ostream& err, Options options)
    : in_(in), err_(err), options_(options) {}

std::optional<std::string> TerminalView::readLine() {
  std::string line;
  if (!std::getline(in_, line)) {
    return std::nullopt;
  }
  return line;
}

int TerminalView::showMessage(const std::string& text, unsigned style) {
  endProgressLine();
  if (style == kStyleQuestion) {
    if (options_.station) {
      err_ << printableLines(text) << "\n[y/N] n (nobody answers a station outside test mode)\n"
           << std::flush;
      declined_ = true;
      return kAnswerNo;
    }
    if (options_.answerYes) {
      // Said all the same, so that the user reads what was agreed to on their behalf.
      err_ << printableLines(text) << "\n[y/N] y (--yes)\n" << std::flush;
      return kAnswerYes;
    }
    err_ << printableLines(text) << "\n[y/N] " << std::flush;
    const auto answer = readLine();
    if (!answer) {
      err_ << '\n';
    }
    if (answer && isYes(*answer)) {
      return kAnswerYes;
    }
    declined_ = true;
    return kAnswerNo;
  }
  last_ = std::make_pair(text, style);
  if (options_.onResult) {
    options_.onResult(text, style);
  }
  return kAnswerOk;
}

int TerminalView::askPerson(const std::string& question) {
  endProgressLine();
  if (options_.station) {
    err_ << printableLines(question) << "\n[y/N] n (only a person at the radio can decide this)\n"
         << std::flush;
    return kAnswerNo;
  }
  // Asked also with --yes: only the person typing decides this one.
  err_ << printableLines(question) << "\n[y/N] "
       << (options_.answerYes ? "(not answered by --yes) " : "") << std::flush;
  const auto answer = readLine();
  if (!answer) {
    err_ << '\n';
  }
  return answer && isYes(*answer) ? kAnswerYes : kAnswerNo;
}

bool TerminalView::confirmTestMode(const std::string& text) {
  if (options_.station) {
    // A station is there to be driven by a console.
    err_ << printableLines(text) << "\n[y/N] y (station)\n" << std::flush;
    return true;
  }
  return showMessage(text, kStyleQuestion) == kAnswerYes;
}

void TerminalView::showVersionChanges(const std::vector<VersionChange>& changes) {
  endProgressLine();
  for (const VersionChange& change : changes) {
    // The versions come from the radio and the package.
    const std::string from = change.from.empty() ? "N/A" : printableText(change.from);
    err_ << change.label << ": " << from;
    if (change.from == change.to) {
      err_ << " (unchanged)\n";
    } else {
      err_ << " \u2192 " << printableText(change.to) << '\n';
    }
  }
}

void TerminalView::showTestMode(bool testMode) {
  if (options_.station) {
    err_ << (testMode ? "Test mode on: updates run without questions and report to the console."
                      : "Test mode off.")
         << '\n'
         << std::flush;
  }
}

void TerminalView::showUpdateFailure(const std::string& text, unsigned style,
                                     const std::filesystem::path& personalityBackup) {
  showMessage(text, style);
  err_ << "The radio's personality is saved in " << printableText(personalityBackup.string())
       << "\nTo write it back: orvik-cli restore-personality "
       << printableText(personalityBackup.string()) << '\n';
}

std::optional<std::string> TerminalView::askPassword(bool wrongPassword) {
  if (wrongPassword) {
    err_ << "The password is not correct. Please check it!\n";
  }
  std::optional<std::string> typed;
  bool lineShown = false;
  {
    // Hidden before the prompt shows, so that nothing typed after it is ever shown.
    const HiddenTyping hidden(options_.passwordTerminal);
    err_ << "Password: " << std::flush;
    typed = readLine();
    // A terminal shows the Enter that ended the line; a pipe shows nothing.
    lineShown = typed && (hidden.active() || isTerminal(options_.passwordTerminal));
  }
  if (!lineShown) {
    err_ << '\n';
  }
  return typed;
}

// On a terminal one bar is redrawn in place, with the step it is in. Into a file or a pipe a
// line goes out when a step begins and when the progress enters a new ten per cent, so that a
// log of the run stays short.
void TerminalView::setProgress(unsigned position) {
  if (position == 0) {
    // The command has ended and clears its progress: what was reached stays on the screen.
    endProgressLine();
    return;
  }
  if (abandoned_ || lastProgress_ == position) {
    return;
  }
  const bool newTenth = !lastProgress_ || position / 10 > *lastProgress_ / 10;
  lastProgress_ = position;
  if (options_.progressBar) {
    drawBar();
  } else if (newTenth) {
    printProgressLine();
  }
}

void TerminalView::setProgressStep(const std::string& step) {
  if (step.empty()) {
    abandoned_ = true;
    endProgressLine();
    return;
  }
  if (abandoned_ || step == step_) {
    return;
  }
  step_ = step;
  lastProgress_ = lastProgress_.value_or(0);
  if (options_.progressBar) {
    drawBar();
  } else {
    printProgressLine();
  }
}

void TerminalView::drawBar() {
  const unsigned position = std::min(lastProgress_.value_or(0), 100U);
  const int filled = static_cast<int>(position) * kBarWidth / 100;
  std::string label = step_.empty() ? waitText_ : step_;
  // Padded, so that a shorter step's name covers a longer one's.
  label.resize(std::max(label.size(), kLabelWidth), ' ');
  // One write for the whole bar (and for each line below): a Ctrl-C notice written by the
  // signal handler lands between them, never inside one.
  std::string bar = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] " +
                    std::to_string(position) + "% " + label;
  err_ << bar << std::flush;
  progressLineOpen_ = true;
}

void TerminalView::printProgressLine() {
  std::string line = std::to_string(lastProgress_.value_or(0)) + '%';
  if (!step_.empty()) {
    line += ' ' + step_;
  }
  line += '\n';
  err_ << line << std::flush;
}

void TerminalView::endProgressLine() {
  if (progressLineOpen_) {
    err_ << '\n' << std::flush;
    progressLineOpen_ = false;
  }
}

void TerminalView::runModal(const std::string& text, const std::function<bool()>& ended) {
  waitText_ = text;
  step_.clear();
  lastProgress_.reset();
  abandoned_ = false;
  if (!options_.progressBar) {
    err_ << printableLines(text) << '\n' << std::flush;
  }
  currentThreadQueue().runUntil(ended);
  endProgressLine();
  waitText_.clear();
  step_.clear();
}

void TerminalStartupView::showMessage(const std::string& text, unsigned) {
  err_ << printableLines(text) << '\n';
}

}  // namespace orvik
