#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "workflow/main_view.h"

namespace orvik {

class MainController;
class RadioManager;
struct ActionOutcome;
struct UpdateRecord;

// A worker's line to the update station: events out on one descriptor, answers in on another.
// A station that is gone reads as one that said stop, and the worker's writes to it are lost
// without harm: an update under way runs to its end.
class StationLink {
 public:
  // interrupted, when given, is set by a signal that ends the worker: it reads as a stop.
  StationLink(int eventFd, int answerFd, const std::atomic<bool>* interrupted = nullptr)
      : eventFd_(eventFd), answerFd_(answerFd), interrupted_(interrupted) {}

  // One event line; from any thread.
  void send(const std::string& line);
  // The next answer, waiting up to the timeout (for ever without one); nothing when none came
  // in time. After a stop, or once the station is gone, it is kAnswerStop.
  std::optional<std::string> answer(std::optional<std::chrono::milliseconds> timeout);
  bool stopped() const { return stopped_ || interrupted(); }

 private:
  bool interrupted() const { return interrupted_ != nullptr && interrupted_->load(); }

  int eventFd_;
  int answerFd_;
  const std::atomic<bool>* interrupted_;
  std::mutex sendMutex_;
  std::string buffer_;
  bool stopped_ = false;
};

// The window of a worker: the question before the update goes to the station with the plan,
// and its answer is the user's; the downgrade question that may follow is answered as the
// station agreed to the plan. Progress and steps go to the station as events.
class StationWorkerView final : public MainView, public WaitView {
 public:
  explicit StationWorkerView(StationLink& link) : link_(link) {}

  // Before each radio's update.
  void reset();

  int confirmUpdate(const std::string& question, const UpdateProposal& proposal) override;
  int showMessage(const std::string& text, unsigned style) override;
  bool confirmTestMode(const std::string&) override { return false; }
  // Nobody at a station may decide what only the radio's owner can: the radio is reported as
  // needing that decision.
  int askPerson(const std::string&) override { return kAnswerNo; }
  void setBusyCursor(bool) override {}
  void enableControl(Control, bool) override {}
  bool controlEnabled(Control) override { return true; }
  void focusControl(Control) override {}
  void showPanel(const RadioPanel&) override {}
  std::string typedSerialNumber() override { return {}; }
  void selectSerialNumber() override {}
  bool keepPersonality() override { return true; }
  void setKeepPersonality(bool) override {}
  void setCableStatus(bool) override {}
  void setProgress(unsigned position) override;
  void setStatusText(const std::string&) override {}
  void setTitle(const std::string&) override {}
  void flashWindow() override {}
  void layoutForDealerMode(bool) override {}
  void enableDealerLogin(bool) override {}
  std::optional<std::string> askPassword(bool) override { return std::nullopt; }
  WaitView& waitView() override { return *this; }
  void showUpdateFailure(const std::string& text, unsigned style,
                         const std::filesystem::path&) override {
    showMessage(text, style);
  }
  void runModal(const std::string& text, const std::function<bool()>& ended) override;

  // The radio the station was asked about, and whether it agreed.
  const std::optional<UpdateProposal>& proposal() const { return proposal_; }
  bool approved() const { return approved_; }

 private:
  StationLink& link_;
  std::optional<UpdateProposal> proposal_;
  bool approved_ = false;
  std::optional<unsigned> progress_;
};

struct StationWorkerOptions {
  // The cable's position, for the update history.
  std::string cable;
  // Keep watching the cable: update each radio that appears on it.
  bool watch = false;
};

// Runs the worker of one cable: the update of the radio on it (with watch, of every radio put
// on it until the station says stop), each a whole single-radio update of the controller,
// journal, backups, history and error log included. The controller must have been
// initialised with the view; each run goes to history with the cable. Returns the exit status:
// 0 when every radio was updated or up to date, 1 when one failed, 3 when the station skipped
// one.
int runStationWorker(MainController& controller, RadioManager& manager, StationWorkerView& view,
                     StationLink& link, const StationWorkerOptions& options,
                     const std::function<void(const UpdateRecord&, const ActionOutcome&)>& history);

}  // namespace orvik
