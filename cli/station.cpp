#include "cli/station.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <istream>
#include <memory>
#include <ostream>
#include <set>

#include "base/text.h"
#include "cli/exit_codes.h"
#include "cli/station_events.h"
#include "cli/station_report.h"
#include "cli/station_table.h"
#include "commands/personality_file.h"
#include "workflow/update_history.h"

extern char** environ;

namespace orvik {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The live table is drawn at most this often; the time column moves once a second.
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr auto kTick = std::chrono::milliseconds(1000);
// How often --watch looks for cables plugged in or pulled out.
constexpr auto kRescanInterval = std::chrono::milliseconds(1000);
constexpr std::size_t kDefaultWidth = 160;
constexpr const char* kStoppedReason = "the station was stopped before its update began";

std::atomic<int> stopSignals{0};

void onStopSignal(int) {
  stopSignals.fetch_add(1);
}

bool isYes(std::string answer) {
  while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r')) {
    answer.pop_back();
  }
  for (char& c : answer) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return answer == "y" || answer == "yes";
}

long long cpuMilliseconds(int who) {
  rusage usage{};
  if (::getrusage(who, &usage) != 0) {
    return 0;
  }
  const auto ms = [](const timeval& t) {
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_usec / 1000;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

std::string firstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// What a cable is called in the table and the report: the converter's USB serial number, which
// stays with the cable on any USB port, else its by-id name, else its device.
std::string cablePosition(const TtyCableDriver::Place& place) {
  if (!place.usbSerial.empty()) {
    return place.usbSerial;
  }
  if (!place.byId.empty()) {
    return place.byId;
  }
  return place.device;
}

enum class WorkerState { Starting, Waiting, Identifying, Held, Updating, Done, Ended };

// One cable's worker process and what the station knows of the radio on it.
struct Worker {
  std::string cable;
  std::string device;
  pid_t pid = -1;
  int events = -1;   // its standard output: event lines
  int text = -1;     // its standard error: what it says
  int answers = -1;  // its standard input
  std::string eventBuffer;
  std::string textBuffer;
  std::vector<std::string> messages;
  WorkerState state = WorkerState::Starting;
  // The radio of the current run, among the station's.
  StationRadio* radio = nullptr;
  // The radio its row shows: the current one, or the last one until the next is awaited.
  const StationRadio* shown = nullptr;
  bool beganAny = false;
  // The radio was updated earlier in this run: it is left alone and not reported again.
  bool leftAlone = false;
  bool declined = false;
  // Its serial number was on another cable at the same time: it was not updated.
  bool duplicate = false;
  std::string skipReason;
  std::string step;
  std::optional<unsigned> progress;
  SteadyClock::time_point since{};
  SteadyClock::time_point until{};
  std::string shownResult;
  std::string lastLine;  // the last line printed for it when not on a terminal
  bool stopSent = false;
  int status = 0;
};

class Station {
 public:
  Station(const StationOptions& options, std::istream& in, std::ostream& out, std::ostream& err)
      : options_(options), in_(in), out_(out), err_(err) {
    if (options.json) {
      mode_ = Mode::Json;
    } else if (&out == &std::cout && ::isatty(STDOUT_FILENO) == 1) {
      mode_ = Mode::Table;
    }
  }

  int run();

 private:
  enum class Mode { Table, Lines, Json };

  std::vector<TtyCableDriver::Place> cables();
  bool startWorker(const TtyCableDriver::Place& place);
  void readFrom(Worker& worker, bool events);
  void onEvent(Worker& worker, const std::string& line);
  void onPlan(Worker& worker, const UpdateProposal& proposal);
  void onResult(Worker& worker, const EventFields& fields);
  void go(Worker& worker);
  void skip(Worker& worker, const std::string& reason);
  void answer(Worker& worker, const std::string& line);
  void reap(Worker& worker);
  void askForBatch();
  void rescan();
  void requestStop();
  bool finished() const;
  StationRadio& newRadio(Worker& worker);

  void emit(const Worker& worker, const std::string& line);
  void emitStation(const std::string& line);
  void note(const std::string& text);
  void say(Worker& worker, const std::string& text);
  void draw(bool force);
  void eraseTable();
  std::vector<StationRow> rows() const;
  bool writeReportFile();
  int exitStatus() const;

  const StationOptions& options_;
  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  Mode mode_ = Mode::Lines;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::unique_ptr<StationRadio>> radios_;
  // Radios met again after their update in this run: shown, not reported.
  std::vector<std::unique_ptr<StationRadio>> leftAlone_;
  // Radios updated (or found up to date) in this run, by serial number.
  std::set<std::string> done_;
  std::unique_ptr<TtyCableDriver> driver_;
  bool asked_ = false;
  bool declined_ = false;
  bool stopping_ = false;
  int stopsSeen_ = 0;
  bool reportFailed_ = false;
  ReportFile reportFile_;
  bool dirty_ = true;
  std::size_t drawnLines_ = 0;
  SteadyClock::time_point lastDraw_{};
};

std::vector<TtyCableDriver::Place> Station::cables() {
  std::vector<TtyCableDriver::Place> found;
  if (!options_.ports.empty()) {
    for (const std::string& port : options_.ports) {
      found.push_back({port, {}, {}});
    }
    return found;
  }
  if (!driver_) {
    driver_ = std::make_unique<TtyCableDriver>(options_.cableRoots);
  }
  return listProgrammingCables(*driver_);
}

bool Station::startWorker(const TtyCableDriver::Place& place) {
  auto worker = std::make_unique<Worker>();
  worker->cable = cablePosition(place);
  worker->device = place.device;
  int events[2] = {-1, -1};
  int text[2] = {-1, -1};
  int answers[2] = {-1, -1};
  // Close-on-exec, so that no worker holds another's pipes open past its end.
  if (::pipe2(events, O_CLOEXEC) != 0 || ::pipe2(text, O_CLOEXEC) != 0 ||
      ::pipe2(answers, O_CLOEXEC) != 0) {
    for (const int fd : {events[0], events[1], text[0], text[1], answers[0], answers[1]}) {
      if (fd >= 0) {
        ::close(fd);
      }
    }
    note("Cannot start the worker of " + worker->cable + ": no pipes left");
    return false;
  }
  std::vector<std::string> arguments{options_.program.string()};
  arguments.insert(arguments.end(), options_.workerOptions.begin(), options_.workerOptions.end());
  arguments.insert(arguments.end(),
                   {"--port", place.device, "station-worker", "--cable", worker->cable});
  if (options_.watch) {
    arguments.emplace_back("--watch");
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, answers[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, events[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, text[1], STDERR_FILENO);
  // A group of its own: Ctrl-C at the terminal reaches the station only, which lets every
  // update under way run to its end.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned =
      ::posix_spawn(&worker->pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(answers[0]);
  ::close(events[1]);
  ::close(text[1]);
  if (spawned != 0) {
    ::close(answers[1]);
    ::close(events[0]);
    ::close(text[0]);
    note("Cannot start the worker of " + worker->cable + ": " + std::strerror(spawned));
    return false;
  }
  worker->events = events[0];
  worker->text = text[0];
  worker->answers = answers[1];
  for (const int fd : {worker->events, worker->text}) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  worker->step = "starting";
  // A cable plugged in again takes the row it had.
  const auto same = std::find_if(workers_.begin(), workers_.end(), [&](const auto& other) {
    return other->state == WorkerState::Ended && other->cable == worker->cable;
  });
  if (same != workers_.end()) {
    *same = std::move(worker);
  } else {
    workers_.push_back(std::move(worker));
  }
  dirty_ = true;
  return true;
}

void Station::readFrom(Worker& worker, bool events) {
  int& fd = events ? worker.events : worker.text;
  std::string& buffer = events ? worker.eventBuffer : worker.textBuffer;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    }
    if (n <= 0) {
      ::close(fd);
      fd = -1;
      break;
    }
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
  std::size_t end;
  while ((end = buffer.find('\n')) != std::string::npos) {
    const std::string line = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    if (events) {
      onEvent(worker, line);
    } else if (!line.empty()) {
      worker.messages.push_back(line);
    }
  }
  if (fd < 0 && !buffer.empty() && !events) {
    worker.messages.push_back(buffer);
    buffer.clear();
  }
}

StationRadio& Station::newRadio(Worker& worker) {
  radios_.push_back(std::make_unique<StationRadio>());
  StationRadio& radio = *radios_.back();
  radio.cable = worker.cable;
  radio.device = worker.device;
  radio.package = options_.packageSigner;
  radio.started = std::chrono::system_clock::now();
  worker.radio = &radio;
  worker.shown = &radio;
  worker.beganAny = true;
  worker.leftAlone = false;
  worker.declined = false;
  worker.duplicate = false;
  worker.skipReason.clear();
  worker.since = SteadyClock::now();
  worker.shownResult.clear();
  return radio;
}

void Station::onEvent(Worker& worker, const std::string& line) {
  const auto fields = parseFlatJson(line);
  if (!fields) {
    worker.messages.push_back(line);
    return;
  }
  dirty_ = true;
  emit(worker, line);
  const std::string event = eventField(*fields, "event");
  if (event == station_event::kBegin) {
    newRadio(worker);
    worker.state = WorkerState::Identifying;
    worker.progress.reset();
  } else if (event == station_event::kPlan) {
    onPlan(worker, proposalFromEvent(*fields));
  } else if (event == station_event::kStep) {
    worker.step = eventField(*fields, "text");
    if (worker.state == WorkerState::Updating || worker.state == WorkerState::Identifying) {
      say(worker, worker.step);
    }
  } else if (event == station_event::kProgress) {
    worker.progress = static_cast<unsigned>(std::stoul("0" + eventField(*fields, "percent")));
  } else if (event == station_event::kLog) {
    if (worker.radio != nullptr) {
      worker.radio->report.push_back(eventField(*fields, "text"));
    }
  } else if (event == station_event::kResult) {
    onResult(worker, *fields);
  } else if (event == station_event::kWaiting || event == station_event::kGone) {
    worker.state = WorkerState::Waiting;
    worker.radio = nullptr;
    worker.shown = nullptr;
    worker.step = "waiting for a radio";
    worker.progress.reset();
    worker.shownResult.clear();
    say(worker, worker.step);
  } else if (event == station_event::kMessage) {
    worker.messages.push_back(eventField(*fields, "text"));
  }
}

void Station::onPlan(Worker& worker, const UpdateProposal& proposal) {
  StationRadio& radio = worker.radio != nullptr ? *worker.radio : newRadio(worker);
  radio.serial = proposal.serial;
  radio.model = proposal.model;
  radio.firmwareBefore = proposal.firmwareBefore;
  radio.firmwareAfter = proposal.firmwareAfter;
  radio.codeplugBefore = proposal.codeplugBefore;
  radio.codeplugAfter = proposal.codeplugAfter;
  radio.plan = proposalSummary(proposal);
  say(worker, proposal.serial + " " + proposal.model + ": " + radio.plan);

  if (!proposal.serial.empty()) {
    // One radio's journal entry and backups are named after its serial number: two radios
    // whose serial numbers name the same entry must not be updated side by side.
    const std::string key = fileNameFromRadioText(proposal.serial);
    for (const auto& other : workers_) {
      if (other.get() != &worker && other->radio != nullptr &&
          fileNameFromRadioText(other->radio->serial) == key &&
          (other->state == WorkerState::Held || other->state == WorkerState::Updating)) {
        worker.duplicate = true;
        skip(worker, "a radio with the same serial number is on cable " + other->cable +
                         ": update this one on its own");
        return;
      }
    }
    if (done_.contains(proposal.serial)) {
      worker.leftAlone = true;
      skip(worker, "already updated in this run");
      return;
    }
  }
  if (stopping_) {
    skip(worker, kStoppedReason);
    return;
  }
  if (options_.policy) {
    const PolicyDecision decision = decideByPolicy(*options_.policy, proposal);
    if (decision.go) {
      go(worker);
    } else {
      skip(worker, decision.reason);
    }
    return;
  }
  if (proposal.programming == UpdatePlan::Programming::Nothing && !proposal.keypad &&
      !proposal.completesInterrupted) {
    go(worker);  // it writes nothing: there is nobody to ask about it
    return;
  }
  worker.state = WorkerState::Held;
  worker.step = "waiting for the go-ahead";
}

void Station::go(Worker& worker) {
  answer(worker, kAnswerGo);
  worker.state = WorkerState::Updating;
  worker.step = "starting the update";
  emitStation(JsonLine("decision")
                  .text("cable", worker.cable)
                  .text("serial", worker.radio->serial)
                  .flag("go", true)
                  .str());
}

void Station::skip(Worker& worker, const std::string& reason) {
  answer(worker, std::string(kAnswerSkip) + " " + reason);
  worker.state = WorkerState::Updating;  // until its result comes
  worker.skipReason = reason;
  worker.step.clear();
  emitStation(JsonLine("decision")
                  .text("cable", worker.cable)
                  .text("serial", worker.radio->serial)
                  .flag("go", false)
                  .text("reason", reason)
                  .str());
}

void Station::answer(Worker& worker, const std::string& line) {
  if (worker.answers < 0) {
    return;
  }
  const std::string text = line + "\n";
  // A worker that has ended no longer reads; its end is seen on its pipes.
  while (::write(worker.answers, text.data(), text.size()) < 0 && errno == EINTR) {
  }
}

void Station::onResult(Worker& worker, const EventFields& fields) {
  StationRadio& radio = worker.radio != nullptr ? *worker.radio : newRadio(worker);
  const auto take = [&](const char* key, std::string& into) {
    if (fields.contains(key) && (!eventField(fields, key).empty() || into.empty())) {
      into = eventField(fields, key);
    }
  };
  take("serial", radio.serial);
  take("model", radio.model);
  take("firmware_before", radio.firmwareBefore);
  take("codeplug_before", radio.codeplugBefore);
  if (fields.contains("firmware_after")) {
    radio.firmwareAfter = eventField(fields, "firmware_after");
    radio.codeplugAfter = eventField(fields, "codeplug_after");
  }
  radio.backup = eventField(fields, "backup");
  radio.ended = std::chrono::system_clock::now();
  const std::string kind = eventField(fields, "result");
  const std::string errors = eventField(fields, "errors");
  if (kind == station_result::kSkipped) {
    radio.result = worker.declined ? station_result::kDeclined : station_result::kSkipped;
    radio.cause = worker.declined ? std::string() : worker.skipReason;
    if (!worker.declined && stopping_ &&
        (worker.skipReason.empty() || worker.skipReason == kStoppedReason)) {
      // The radio was left as it was because of Ctrl-C, not by the policy: it counts as
      // not updated.
      radio.result = station_result::kStopped;
      radio.cause = kStoppedReason;
    } else if (worker.duplicate) {
      radio.result = station_result::kFailed;  // not updated, and not by the policy's choice
    }
    radio.firmwareAfter = radio.firmwareBefore;
    radio.codeplugAfter = radio.codeplugBefore;
  } else if (kind == station_result::kFailed) {
    radio.result = station_result::kFailed;
    const std::string text = eventField(fields, "text");
    radio.cause = firstLine(text);
    // Below its first line the result says why, where it knows (a port in use by another
    // program, a radio that did not answer).
    const std::string reason =
        firstLine(text.substr(std::min(text.size(), radio.cause.size() + 1)));
    if (!errors.empty() && errors != "OK") {
      radio.cause += " (" + firstLine(errors) + ")";
    } else if (!reason.empty()) {
      radio.cause += " (" + reason + ")";
    } else if (radio.serial.empty()) {
      // Nothing answered: say where to look.
      std::error_code ignored;
      radio.cause +=
          std::filesystem::exists(worker.device, ignored)
              ? " (no radio answers on " + worker.device + ": is it on the cable and switched on?)"
              : " (" + worker.device + " does not exist: check the port)";
    }
  } else {
    radio.result = kind;
  }
  worker.state = WorkerState::Done;
  worker.until = SteadyClock::now();
  worker.progress.reset();
  worker.step.clear();
  const std::string swap = options_.watch ? " - swap the radio" : "";
  if (worker.leftAlone) {
    worker.shownResult = "already updated" + swap;
    // Not in the report again; its row still shows it.
    const auto entry = std::find_if(radios_.begin(), radios_.end(),
                                    [&](const auto& one) { return one.get() == &radio; });
    leftAlone_.push_back(std::move(*entry));
    radios_.erase(entry);
    worker.radio = nullptr;
  } else {
    if (radio.result == station_result::kUpdated || radio.result == station_result::kUpToDate) {
      done_.insert(radio.serial);
    }
    worker.shownResult = radio.result;
    if (!radio.cause.empty()) {
      worker.shownResult += ": " + radio.cause;
    }
    if (options_.watch) {
      worker.shownResult = (radio.succeeded() ? "done" : radio.result) + swap +
                           (radio.cause.empty() ? "" : " (" + radio.cause + ")");
    }
  }
  say(worker, worker.shownResult);
  if (options_.watch && options_.report) {
    writeReportFile();  // kept up to date, so that a station that dies leaves it
  }
}

void Station::reap(Worker& worker) {
  int status = 0;
  while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
  }
  worker.status = status;
  if (worker.answers >= 0) {
    ::close(worker.answers);
    worker.answers = -1;
  }
  const bool clean = WIFEXITED(status) && WEXITSTATUS(status) != kExitUsage;
  const std::string said = worker.messages.empty() ? std::string() : worker.messages.back();
  const std::string how = WIFSIGNALED(status)
                              ? "the worker was ended by signal " + std::to_string(WTERMSIG(status))
                              : "the worker ended";
  if (worker.radio != nullptr && worker.state != WorkerState::Done) {
    // Ended before it said how the update ended: it is counted as failed, with its last words.
    StationRadio& radio = *worker.radio;
    radio.result = station_result::kFailed;
    radio.cause = how + " before the update ended" + (said.empty() ? "" : ": " + said);
    radio.ended = std::chrono::system_clock::now();
    worker.shownResult = radio.result + ": " + radio.cause;
  } else if (!worker.beganAny && (!clean || WEXITSTATUS(status) != kExitOk)) {
    // It never reached a radio: it could not start (the package, the per-machine folder).
    StationRadio& radio = newRadio(worker);
    radio.result = station_result::kFailed;
    radio.cause = said.empty() ? how : said;
    radio.ended = radio.started;
    worker.shownResult = radio.result + ": " + radio.cause;
  }
  if (worker.state == WorkerState::Waiting || worker.state == WorkerState::Starting) {
    worker.step = options_.watch ? "cable removed" : "";
  }
  if (worker.state != WorkerState::Done) {
    worker.until = SteadyClock::now();
  }
  worker.state = WorkerState::Ended;
  worker.radio = nullptr;
  dirty_ = true;
}

void Station::askForBatch() {
  asked_ = true;
  std::vector<Worker*> held;
  std::string listing = "The station will update these radios:\n";
  for (const auto& worker : workers_) {
    if (worker->state != WorkerState::Held) {
      continue;
    }
    held.push_back(worker.get());
    const StationRadio& radio = *worker->radio;
    const std::string port = worker->cable == worker->device
                                 ? worker->cable
                                 : worker->cable + " (" + worker->device + ")";
    listing += "  " + printableText(port) + "  " + printableText(radio.serial) + "  " +
               printableText(radio.model) + "  firmware " +
               printableText(versionChange(radio.firmwareBefore, radio.firmwareAfter)) +
               ", codeplug " +
               printableText(versionChange(radio.codeplugBefore, radio.codeplugAfter)) + ": " +
               radio.plan + "\n";
  }
  for (const auto& radio : radios_) {
    if (!radio->result.empty()) {
      listing += "  " + printableText(radio->cable) + "  " + printableText(radio->serial) + "  " +
                 radio->result +
                 (radio->cause.empty() ? "" : " (" + printableText(radio->cause) + ")") + "\n";
    }
  }
  listing +=
      "Please do not remove a cable or a radio, or turn a radio off, while it is "
      "programmed.\nUpdate these " +
      std::to_string(held.size()) + " radios? [y/N] ";
  eraseTable();
  err_ << listing << std::flush;
  std::string line;
  const bool answered = static_cast<bool>(std::getline(in_, line));
  const bool yes = answered && isYes(line);
  if (!answered) {
    err_ << '\n';
  }
  for (Worker* worker : held) {
    if (yes) {
      go(*worker);
    } else {
      worker->declined = true;
      skip(*worker, "declined");
    }
  }
  declined_ = !yes;
  if (!yes) {
    note(std::string(answered ? "Declined" : "No answer") +
         ": no radio is changed. To update them, run the station again and answer y, or give "
         "--policy newer to let it answer for each radio.");
  }
  dirty_ = true;
  draw(true);
}

void Station::rescan() {
  const std::vector<TtyCableDriver::Place> now = cables();
  for (const TtyCableDriver::Place& place : now) {
    const bool served = std::any_of(workers_.begin(), workers_.end(), [&](const auto& worker) {
      return worker->device == place.device && worker->state != WorkerState::Ended;
    });
    if (!served && !stopping_) {
      startWorker(place);
    }
  }
  // A cable pulled out while its worker waits for a radio: that worker ends. One pulled out
  // during an update fails it by itself.
  for (const auto& worker : workers_) {
    const bool listed = std::any_of(
        now.begin(), now.end(), [&](const auto& place) { return place.device == worker->device; });
    if (!listed && worker->state == WorkerState::Waiting && !worker->stopSent) {
      answer(*worker, kAnswerStop);
      worker->stopSent = true;
    }
  }
}

void Station::requestStop() {
  stopping_ = true;
  int programming = 0;
  for (const auto& worker : workers_) {
    if (worker->state == WorkerState::Ended) {
      continue;
    }
    if (worker->state == WorkerState::Updating) {
      ++programming;
    }
    if (!worker->stopSent) {
      answer(*worker, kAnswerStop);
      worker->stopSent = true;
    }
  }
  if (programming > 0) {
    note("Stopping: " + std::to_string(programming) +
         (programming == 1 ? " radio is" : " radios are") +
         " being updated and will not be interrupted; the station ends when they are done.");
  } else {
    note("Stopping.");
  }
}

bool Station::finished() const {
  if (options_.watch && !stopping_) {
    return false;
  }
  return std::all_of(workers_.begin(), workers_.end(),
                     [](const auto& worker) { return worker->state == WorkerState::Ended; });
}

void Station::emit(const Worker& worker, const std::string& line) {
  if (mode_ != Mode::Json || line.empty()) {
    return;
  }
  out_ << "{\"cable\":" << jsonString(worker.cable) << ",\"device\":" << jsonString(worker.device)
       << "," << line.substr(1) << '\n'
       << std::flush;
}

void Station::emitStation(const std::string& line) {
  if (mode_ == Mode::Json) {
    out_ << line << '\n' << std::flush;
  }
}

void Station::eraseTable() {
  if (mode_ == Mode::Table && drawnLines_ > 0) {
    out_ << "\x1b[" << drawnLines_ << "F\x1b[J" << std::flush;
    drawnLines_ = 0;
  }
}

void Station::note(const std::string& text) {
  eraseTable();
  err_ << printableLines(text) << '\n' << std::flush;
  dirty_ = true;
  draw(true);
}

void Station::say(Worker& worker, const std::string& text) {
  if (mode_ != Mode::Lines || text.empty() || text == worker.lastLine) {
    return;
  }
  worker.lastLine = text;
  out_ << printableText(worker.cable) << ": " << printableText(text) << '\n' << std::flush;
}

std::vector<StationRow> Station::rows() const {
  std::vector<StationRow> rows;
  const auto now = SteadyClock::now();
  for (const auto& worker : workers_) {
    StationRow row;
    row.cable = worker->cable;
    row.step = worker->step;
    row.result = worker->shownResult;
    const StationRadio* radio = worker->shown;
    if (radio != nullptr) {
      row.serial = radio->serial;
      row.model = radio->model;
      if (!radio->firmwareBefore.empty() || !radio->firmwareAfter.empty()) {
        row.firmware = versionChange(radio->firmwareBefore, radio->firmwareAfter);
        row.codeplug = versionChange(radio->codeplugBefore, radio->codeplugAfter);
      }
      const bool over = worker->state == WorkerState::Done || worker->state == WorkerState::Ended;
      const auto end = over ? worker->until : now;
      row.time = minutesAndSeconds(
          std::chrono::duration_cast<std::chrono::seconds>(end - worker->since).count());
    }
    if (worker->state == WorkerState::Updating) {
      row.progress = worker->progress;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void Station::draw(bool force) {
  if (mode_ != Mode::Table) {
    return;
  }
  const auto now = SteadyClock::now();
  if (!force && (!dirty_ || now - lastDraw_ < kRedrawInterval)) {
    return;
  }
  winsize size{};
  const std::size_t width = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                                ? size.ws_col - 1
                                : kDefaultWidth;
  const std::vector<std::string> lines = stationTableLines(rows(), width);
  std::string text;
  if (drawnLines_ > 0) {
    text += "\x1b[" + std::to_string(drawnLines_) + "F";
  }
  for (const std::string& line : lines) {
    text += "\x1b[2K" + line + "\n";
  }
  if (lines.size() < drawnLines_) {
    text += "\x1b[J";
  }
  out_ << text << std::flush;
  drawnLines_ = lines.size();
  dirty_ = false;
  lastDraw_ = now;
}

bool Station::writeReportFile() {
  std::vector<StationRadio> radios;
  for (const auto& radio : radios_) {
    if (!radio->result.empty()) {
      radios.push_back(*radio);
    }
  }
  std::string error;
  if (!reportFile_.write(radios, error)) {
    if (!reportFailed_) {
      note("Cannot write the report: " + error);
    }
    reportFailed_ = true;
    return false;
  }
  return true;
}

int Station::exitStatus() const {
  if (reportFailed_) {
    return kExitRadioFailure;
  }
  for (const auto& radio : radios_) {
    if (!radio->succeeded() && radio->result != station_result::kDeclined) {
      return kExitRadioFailure;
    }
  }
  return declined_ ? kExitDeclined : kExitOk;
}

// Ctrl-C, SIGTERM and SIGHUP ask the station to stop, and a worker that has ended no longer reads,
// while the station runs.
class StationSignals {
 public:
  StationSignals() {
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = 0;  // no restart: poll must return to see the request
    sigaction(SIGINT, &stop, &oldInt_);
    sigaction(SIGTERM, &stop, &oldTerm_);
    // The terminal that went away: the updates under way still end well and are reported.
    sigaction(SIGHUP, &stop, &oldHup_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &oldPipe_);
  }
  ~StationSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    sigaction(SIGHUP, &oldHup_, nullptr);
    sigaction(SIGPIPE, &oldPipe_, nullptr);
  }
  StationSignals(const StationSignals&) = delete;
  StationSignals& operator=(const StationSignals&) = delete;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
  struct sigaction oldHup_ {};
  struct sigaction oldPipe_ {};
};

int Station::run() {
  const StationSignals signals;
  stopsSeen_ = stopSignals.load();

  const std::vector<TtyCableDriver::Place> found = cables();
  if (found.empty() && !options_.watch) {
    err_ << "No programming cable is attached.\n";
    return kExitRadioFailure;
  }
  if (options_.report) {
    // Made before any radio is touched, so that a name already taken stops the run at once.
    std::string error;
    if (!reportFile_.create(*options_.report, options_.forceReport, error)) {
      err_ << "Cannot write the report: " << error << ".\n";
      return kExitUsage;
    }
  }
  emitStation(JsonLine("station")
                  .number("cables", static_cast<long long>(found.size()))
                  .text("policy", options_.policy ? stationPolicyName(*options_.policy) : "ask")
                  .flag("watch", options_.watch)
                  .str());
  for (const TtyCableDriver::Place& place : found) {
    startWorker(place);
  }
  if (options_.watch) {
    note(
        "Watching the cables: put the radios on; each is updated once. Ctrl-C ends the "
        "station.");
  }
  auto lastScan = SteadyClock::now();
  auto lastTick = SteadyClock::now();
  while (!finished()) {
    if (stopSignals.load() != stopsSeen_) {
      stopsSeen_ = stopSignals.load();
      requestStop();
    }
    if (!options_.policy && !asked_) {
      const bool waiting = std::any_of(workers_.begin(), workers_.end(), [](const auto& worker) {
        return worker->state == WorkerState::Starting || worker->state == WorkerState::Identifying;
      });
      const bool held = std::any_of(workers_.begin(), workers_.end(), [](const auto& worker) {
        return worker->state == WorkerState::Held;
      });
      if (held && !waiting) {
        askForBatch();
        continue;
      }
    }

    std::vector<pollfd> fds;
    std::vector<std::pair<Worker*, bool>> owners;
    for (const auto& worker : workers_) {
      if (worker->events >= 0) {
        fds.push_back({worker->events, POLLIN, 0});
        owners.emplace_back(worker.get(), true);
      }
      if (worker->text >= 0) {
        fds.push_back({worker->text, POLLIN, 0});
        owners.emplace_back(worker.get(), false);
      }
    }
    const auto now = SteadyClock::now();
    auto wait = kTick;
    if (mode_ == Mode::Table && dirty_) {
      wait = std::max(std::chrono::milliseconds(0),
                      std::chrono::duration_cast<std::chrono::milliseconds>(kRedrawInterval -
                                                                            (now - lastDraw_)));
    }
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
    if (ready > 0) {
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
          readFrom(*owners[i].first, owners[i].second);
        }
      }
    }
    for (const auto& worker : workers_) {
      if (worker->state != WorkerState::Ended && worker->events < 0 && worker->text < 0) {
        reap(*worker);
      }
    }
    const auto after = SteadyClock::now();
    if (options_.watch && options_.ports.empty() && after - lastScan >= kRescanInterval) {
      lastScan = after;
      rescan();
    }
    if (after - lastTick >= kTick) {
      lastTick = after;
      dirty_ = true;  // the time column
    }
    draw(false);
  }
  draw(true);

  constexpr std::size_t kResults = 6;
  std::size_t counts[kResults] = {};
  const char* names[kResults] = {station_result::kUpdated,  station_result::kUpToDate,
                                 station_result::kSkipped,  station_result::kFailed,
                                 station_result::kDeclined, station_result::kStopped};
  std::size_t total = 0;
  for (const auto& radio : radios_) {
    for (std::size_t i = 0; i < kResults; ++i) {
      if (radio->result == names[i]) {
        ++counts[i];
        ++total;
      }
    }
  }
  if (options_.report) {
    writeReportFile();
  }
  const int status = exitStatus();
  if (mode_ == Mode::Json) {
    JsonLine end("end");
    end.number("radios", static_cast<long long>(total));
    for (std::size_t i = 0; i < kResults; ++i) {
      end.number(names[i], static_cast<long long>(counts[i]));
    }
    end.number("exit", status)
        .number("cpu_ms", cpuMilliseconds(RUSAGE_SELF))
        .number("workers_cpu_ms", cpuMilliseconds(RUSAGE_CHILDREN));
    emitStation(end.str());
  } else {
    std::string summary = std::to_string(total) + (total == 1 ? " radio" : " radios");
    const char* separator = ": ";
    for (std::size_t i = 0; i < kResults; ++i) {
      if (counts[i] > 0) {
        summary += separator + std::to_string(counts[i]) + " " + names[i];
        separator = ", ";
      }
    }
    out_ << summary << ".\n";
    if (options_.report && !reportFailed_) {
      out_ << "Report: " << options_.report->string() << '\n';
    }
    out_ << std::flush;
  }
  return status;
}

}  // namespace

int runStation(const StationOptions& options, std::istream& in, std::ostream& out,
               std::ostream& err) {
  return Station(options, in, out, err).run();
}

}  // namespace orvik
