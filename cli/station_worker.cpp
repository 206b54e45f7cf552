#include "cli/station_worker.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "app/string_table.h"
#include "cli/exit_codes.h"
#include "cli/station_events.h"
#include "errors/error_log.h"
#include "errors/error_text.h"
#include "exec/message_window.h"
#include "exec/radio_manager.h"
#include "workflow/main_controller.h"

namespace orvik {
namespace {

// How often a watching worker asks the cable whether a radio answers.
constexpr std::chrono::milliseconds kWatchInterval{1000};
// How often a wait for the station looks whether a signal asked the worker to end.
constexpr std::chrono::milliseconds kSignalLook{200};

// The serial number of the radio that answers on the cable now; nothing when none answers.
// Only the identity is read; the error text it leaves is dropped, as the next update starts
// its own.
std::optional<std::string> radioOnCable(RadioManager& manager) {
  std::optional<std::string> serial;
  if (manager.connect(true) && manager.radioInfo()->readIdentity()) {
    serial = RadioInfo::serialText(manager.radioInfo()->serialBytes()).value_or("");
  }
  manager.connect(false);
  removeErrors(ErrorCategory::OK);
  return serial;
}

std::string_view resultKind(const ActionOutcome& outcome) {
  if (outcome.cancelled) {
    return station_result::kSkipped;
  }
  if (outcome.style != kStyleInformation) {
    return station_result::kFailed;
  }
  return outcome.text == stringText(StringId::UpdateSucceeded) ? station_result::kUpdated
                                                               : station_result::kUpToDate;
}

}  // namespace

void StationLink::send(const std::string& line) {
  const std::string text = line + "\n";
  std::lock_guard lock(sendMutex_);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(eventFd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;  // the station is gone; the update goes on
    }
    done += static_cast<std::size_t>(n);
  }
}

std::optional<std::string> StationLink::answer(std::optional<std::chrono::milliseconds> timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout.value_or(kWatchInterval);
  for (;;) {
    if (stopped()) {
      stopped_ = true;
      return std::string(kAnswerStop);
    }
    const std::size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (line == kAnswerStop) {
        stopped_ = true;
      }
      return line;
    }
    int wait = -1;
    if (timeout) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return std::nullopt;
      }
      wait = static_cast<int>(left.count());
    }
    if (interrupted_ != nullptr && (wait < 0 || wait > kSignalLook.count())) {
      // A signal that came just before poll began would not cut its wait short.
      wait = static_cast<int>(kSignalLook.count());
    }
    pollfd entry{answerFd_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, wait);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready == 0) {
      continue;  // the deadline decides
    }
    char chunk[256];
    const ssize_t n = ready < 0 ? -1 : ::read(answerFd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      stopped_ = true;  // the station is gone
      continue;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

void StationWorkerView::reset() {
  proposal_.reset();
  approved_ = false;
  progress_.reset();
}

int StationWorkerView::confirmUpdate(const std::string&, const UpdateProposal& proposal) {
  proposal_ = proposal;
  approved_ = false;
  link_.send(planEvent(proposal));
  const std::optional<std::string> answer = link_.answer(std::nullopt);
  approved_ = answer == kAnswerGo;
  return approved_ ? kAnswerYes : kAnswerNo;
}

int StationWorkerView::showMessage(const std::string&, unsigned style) {
  if (style == kStyleQuestion) {
    // The downgrade question: the station agreed to the plan, which said whether it goes back
    // to an older version.
    return approved_ && proposal_ && proposal_->downgrade ? kAnswerYes : kAnswerNo;
  }
  return kAnswerOk;
}

void StationWorkerView::setProgress(unsigned position) {
  if (position == 0 || progress_ == position) {
    return;
  }
  progress_ = position;
  link_.send(JsonLine(station_event::kProgress).number("percent", position).str());
}

void StationWorkerView::runModal(const std::string& text, const std::function<bool()>& ended) {
  if (text != CTaskDialog::kDefaultText) {
    link_.send(JsonLine(station_event::kStep).text("text", text).str());
  }
  currentThreadQueue().runUntil(ended);
}

int runStationWorker(
    MainController& controller, RadioManager& manager, StationWorkerView& view, StationLink& link,
    const StationWorkerOptions& options,
    const std::function<void(const UpdateRecord&, const ActionOutcome&)>& history) {
  // The lines this worker writes to the shared error log are its radio's failure report.
  errorLog().setObserver([&link](std::string_view text) {
    link.send(JsonLine(station_event::kLog).text("text", std::string(text)).str());
  });
  std::optional<UpdateRecord> record;
  controller.setUpdateObserver(
      [&record, &options, &history](const UpdateRecord& ran, const ActionOutcome& outcome) {
        UpdateRecord withCable = ran;
        withCable.cable = options.cable;
        if (history) {
          history(withCable, outcome);
        }
        record = std::move(withCable);
      });
  controller.programCommand().stageObserver = [&link](const char* stage) {
    link.send(JsonLine(station_event::kStep).text("text", stage).str());
  };

  int status = kExitOk;
  for (;;) {
    std::optional<std::string> present;
    if (options.watch) {
      link.send(JsonLine(station_event::kWaiting).str());
      for (;;) {
        present = radioOnCable(manager);
        if (present || link.stopped()) {
          break;
        }
        link.answer(kWatchInterval);  // a stop ends the wait at once
      }
      if (!present) {
        break;
      }
    }

    view.reset();
    record.reset();
    link.send(JsonLine(station_event::kBegin).str());
    link.send(JsonLine(station_event::kStep).text("text", "identifying the radio").str());
    controller.onUpdate();
    const ActionOutcome& outcome = controller.lastOutcome();
    const std::string_view kind = resultKind(outcome);
    JsonLine result(station_event::kResult);
    result.text("result", std::string(kind)).text("text", outcome.text);
    if (record) {
      const std::string serial =
          record->serialBefore.empty() ? record->serialAfter : record->serialBefore;
      // A radio that never answered has no model either, only the zeros of an empty read.
      result.text("serial", serial)
          .text("model", serial.empty() ? std::string() : record->model)
          .text("firmware_before", record->firmwareBefore)
          .text("firmware_after", record->firmwareAfter)
          .text("codeplug_before", record->codeplugBefore)
          .text("codeplug_after", record->codeplugAfter)
          .text("errors", record->errorLines)
          .text("backup", record->backupFile.string());
    } else if (view.proposal()) {
      result.text("serial", view.proposal()->serial).text("model", view.proposal()->model);
    }
    link.send(result.str());
    if (kind == station_result::kFailed) {
      status = kExitRadioFailure;
    } else if (kind == station_result::kSkipped && status == kExitOk) {
      status = kExitDeclined;
    }

    if (!options.watch) {
      break;
    }
    // The radio stays on the cable until it is swapped: wait until it no longer answers, or
    // another one does.
    const std::string done = view.proposal() ? view.proposal()->serial : present.value_or("");
    std::optional<std::string> now = radioOnCable(manager);
    while (now && *now == done && !link.stopped()) {
      link.answer(kWatchInterval);
      now = radioOnCable(manager);
    }
    if (link.stopped()) {
      break;
    }
    link.send(JsonLine(station_event::kGone).str());
  }
  errorLog().setObserver(nullptr);
  return status;
}

}  // namespace orvik
