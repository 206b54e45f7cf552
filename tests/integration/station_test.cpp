// The update station end to end: orvik-cli station update against orvik-radio-sim processes
// that keep the time of a real line, with a small package so that a radio takes seconds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "cli/station_events.h"
#include "commands/update_journal.h"
#include "pack/demo_package.h"
#include "pack/package_signing.h"
#include "package/minisign.h"
#include "tests/commands/program_fixture.h"
#include "workflow/update_history.h"

namespace orvik::testing {
namespace {

using Fields = std::map<std::string, std::string>;

// How long a test waits for the station to tell something it expects; it normally comes in
// seconds.
constexpr auto kPatience = std::chrono::seconds(120);

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    out.push_back(line);
  }
  return out;
}

std::filesystem::path buildDir() {
  const char* build = std::getenv("ORVIK_BUILD_DIR");
  return build == nullptr ? std::filesystem::path() : std::filesystem::path(build);
}

// A program run with its standard output on a pipe that the test reads line by line.
class Process {
 public:
  // Its standard error goes to the file errors, or, when that is empty, to the same pipe as its
  // standard output.
  Process(std::vector<std::string> arguments, const std::filesystem::path& errors) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (errors.empty()) {
      posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                       O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      wait();
    }
    if (out_ >= 0) {
      ::close(out_);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The next line of its output; nothing at its end or when none came in time.
  std::optional<std::string> line() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string text = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return text;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd entry{out_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char chunk[4096];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) {
        return std::nullopt;
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Its output to the end.
  std::vector<std::string> rest() {
    std::vector<std::string> all;
    while (auto next = line()) {
      all.push_back(*next);
    }
    return all;
  }
  void signal(int number) { ::kill(pid_, number); }
  pid_t pid() const { return pid_; }
  // The wait status.
  int wait() {
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// The worker process the station runs for a cable: a child of the station's with
// "--cable CABLE" among its arguments; -1 when there is none.
pid_t workerOf(pid_t station, const std::filesystem::path& cable) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    const std::string stat = readText(entry.path() / "stat");
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
      continue;
    }
    std::istringstream rest(stat.substr(nameEnd + 1));
    char state = 0;
    pid_t parent = 0;
    if (!(rest >> state >> parent) || parent != station) {
      continue;
    }
    std::vector<std::string> arguments;
    std::istringstream command(readText(entry.path() / "cmdline"));
    for (std::string argument; std::getline(command, argument, '\0');) {
      arguments.push_back(argument);
    }
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
      if (arguments[i] == "--cable" && arguments[i + 1] == cable.string()) {
        return std::stoi(name);
      }
    }
  }
  return -1;
}

// How a simulated radio answers: at once, as a pty moves bytes, or in the time of a real
// 57600-baud line, starting each answer `latency` ms after the request.
struct LineTime {
  int latency = 1;
};

// A simulated radio on a pty of its own. Only the tests whose point is radios being programmed
// side by side over time keep the time of a line; the others need no real time.
class Radio {
 public:
  Radio(const std::string& serial, const std::vector<std::string>& options,
        const std::filesystem::path& errors, std::optional<LineTime> lineTime = std::nullopt) {
    std::vector<std::string> arguments{(buildDir() / "bin" / "orvik-radio-sim").string(),
                                       "--serial", serial};
    if (lineTime) {
      arguments.insert(arguments.end(),
                       {"--line-rate", "57600", "--latency", std::to_string(lineTime->latency)});
    }
    arguments.insert(arguments.end(), options.begin(), options.end());
    process_ = std::make_unique<Process>(arguments, errors);
    port_ = process_->line().value_or("");
  }
  const std::string& port() const { return port_; }
  // Taken off the cable: the simulator ends and removes its link.
  void remove() {
    process_->signal(SIGTERM);
    process_->wait();
  }

 private:
  std::unique_ptr<Process> process_;
  std::string port_;
};

class StationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (buildDir().empty()) {
      GTEST_SKIP() << "ORVIK_BUILD_DIR is not set";
    }
    // A few KiB of firmware and of default block: a radio takes seconds at line speed.
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(writeDemoPackage(package(), machine() / "data" / "setup.dat", out, error,
                                 DemoPackageSizes{4096, 4096}))
        << error;
  }

  std::filesystem::path package() const { return temp.path() / "package"; }
  std::filesystem::path machine() const { return temp.path() / "machine"; }
  std::filesystem::path errors() const { return temp.path() / "errors.txt"; }

  // The station; errors names the file its standard error goes to (none: its output pipe).
  std::unique_ptr<Process> station(const std::vector<std::string>& options) {
    return station(options, errors());
  }
  std::unique_ptr<Process> station(const std::vector<std::string>& options,
                                   const std::filesystem::path& errors) {
    std::vector<std::string> arguments{(buildDir() / "bin" / "orvik-cli").string(),
                                       "--package",
                                       package().string(),
                                       "--data-dir",
                                       machine().string(),
                                       "station",
                                       "update",
                                       "--json"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return std::make_unique<Process>(arguments, errors);
  }

  // Writes the package again with these sizes.
  void writePackage(const DemoPackageSizes& sizes) {
    std::filesystem::remove_all(package());
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(writeDemoPackage(package(), machine() / "data" / "setup.dat", out, error, sizes))
        << error;
  }

  // Waits for the station's event of a cable; its other lines are skipped.
  Fields waitFor(Process& run, const std::filesystem::path& cable, const char* event) {
    while (auto line = run.line()) {
      const auto fields = parseFlatJson(*line);
      if (fields && fields->contains("cable") && fields->at("cable") == cable.string() &&
          fields->at("event") == event) {
        return *fields;
      }
    }
    ADD_FAILURE() << "no " << event << " on " << cable << ": " << readText(errors());
    return Fields{};
  }

  // The report's radios by serial number.
  std::map<std::string, Fields> reportedRadios(const std::filesystem::path& report) {
    std::map<std::string, Fields> radios;
    for (const std::string& line : lines(readText(report))) {
      if (line.starts_with("  {")) {
        // The report lines are an array, which the flat reader does not take: cut it off.
        const std::string flat = line.substr(2, line.find(",\"report\":") - 2) + "}";
        const auto fields = parseFlatJson(flat);
        if (fields) {
          radios[fields->at("serial")] = *fields;
        }
      }
    }
    return radios;
  }

  TempFolder temp;
};

// Eight radios at once, two of them bad: one falls silent and one is disconnected in the
// middle of programming. The six good ones end updated; the bad ones fail, each with its own
// backup and its own failure report. The radios keep the time of a line, so that their updates
// run side by side.
TEST_F(StationTest, RealTimeEightRadiosAtOnceEachInItsOwnSession) {
  const std::vector<std::string> serials = {"ST0000001", "ST0000002", "ST0000003", "ST0000004",
                                            "ST0000005", "ST0000006", "ST0000007", "ST0000008"};
  const std::string silent = serials[2];
  const std::string disconnected = serials[5];
  std::vector<std::unique_ptr<Radio>> radios;
  std::vector<std::string> options{"--policy", "newer", "--report",
                                   (temp.path() / "batch.json").string()};
  for (const std::string& serial : serials) {
    std::vector<std::string> faults;
    if (serial == silent) {
      faults = {"--fault", "write-flash:every:silence"};
    } else if (serial == disconnected) {
      faults = {"--fault", "write-flash:2:disconnect"};
    }
    radios.push_back(std::make_unique<Radio>(serial, faults, errors(), LineTime{}));
    ASSERT_FALSE(radios.back()->port().empty()) << readText(errors());
    options.insert(options.end(), {"--port", radios.back()->port()});
  }

  auto run = station(options);
  const std::vector<std::string> events = run->rest();
  const int status = run->wait();
  ASSERT_TRUE(WIFEXITED(status)) << readText(errors());
  EXPECT_EQ(WEXITSTATUS(status), 1) << readText(errors());

  // Every event is one JSON object on its line; each radio's events come with its cable.
  std::map<std::string, std::vector<std::string>> eventsByCable;
  for (const std::string& line : events) {
    const auto fields = parseFlatJson(line);
    ASSERT_TRUE(fields) << line;
    if (fields->contains("cable")) {
      eventsByCable[fields->at("cable")].push_back(fields->at("event"));
    }
  }
  for (const auto& radio : radios) {
    const std::vector<std::string>& seen = eventsByCable[radio->port()];
    ASSERT_FALSE(seen.empty()) << radio->port();
    EXPECT_EQ(seen.front(), station_event::kBegin);
    EXPECT_EQ(seen.back(), station_event::kResult);
  }

  const auto reported = reportedRadios(temp.path() / "batch.json");
  ASSERT_EQ(reported.size(), serials.size()) << readText(temp.path() / "batch.json");
  for (std::size_t i = 0; i < serials.size(); ++i) {
    SCOPED_TRACE(serials[i]);
    const Fields& radio = reported.at(serials[i]);
    EXPECT_EQ(radio.at("device"), radios[i]->port());
    EXPECT_FALSE(radio.at("started").empty());
    EXPECT_FALSE(radio.at("ended").empty());
    // Every update saved its radio's personality before the first erase.
    ASSERT_FALSE(radio.at("backup").empty());
    EXPECT_TRUE(std::filesystem::exists(radio.at("backup")));
    EXPECT_NE(radio.at("backup").find(serials[i]), std::string::npos);
    if (serials[i] == silent || serials[i] == disconnected) {
      EXPECT_EQ(radio.at("result"), "failed");
      EXPECT_NE(radio.at("cause").find("Update failed."), std::string::npos);
    } else {
      EXPECT_EQ(radio.at("result"), "updated");
      EXPECT_EQ(radio.at("firmware_before"), "R01.02.03");
      EXPECT_EQ(radio.at("firmware_after"), "R01.03.00");
      EXPECT_EQ(radio.at("codeplug_after"), "R01.04.00");
    }
  }

  // Each bad radio's failure report names that radio only, and no line of one is in the
  // other's.
  const std::string report = readText(temp.path() / "batch.json");
  std::map<std::string, std::set<std::string>> reportLines;
  for (const std::string& line : lines(report)) {
    for (const std::string& serial : {silent, disconnected}) {
      if (line.find("\"serial\":\"" + serial + "\"") != std::string::npos) {
        // The texts of the array are every other piece between quotes.
        std::istringstream in(line.substr(line.find("\"report\":[") + 10));
        int piece = 0;
        for (std::string item; std::getline(in, item, '"'); ++piece) {
          if (piece % 2 == 1) {
            reportLines[serial].insert(item);
          }
        }
      }
    }
  }
  for (const auto& [serial, own] : reportLines) {
    SCOPED_TRACE(serial);
    ASSERT_FALSE(own.empty());
    bool named = false;
    for (const std::string& line : own) {
      named = named || line.find("SN:" + serial) != std::string::npos;
      for (const std::string& other : serials) {
        if (other != serial) {
          EXPECT_EQ(line.find(other), std::string::npos) << line;
        }
      }
    }
    EXPECT_TRUE(named);
  }
  for (const std::string& line : reportLines[silent]) {
    EXPECT_FALSE(reportLines[disconnected].contains(line)) << line;
  }

  // The shared files took whole lines: one history line per radio with its cable, and both
  // failure reports in the error log.
  const auto history = readHistory(historyPath(machine()));
  ASSERT_EQ(history.size(), serials.size());
  std::set<std::string> historyCables;
  for (const auto& row : history) {
    historyCables.insert(row.at("cable"));
  }
  EXPECT_EQ(historyCables.size(), serials.size());
  const std::string log = readText(machine() / "log" / "err.log");
  for (const std::string& serial : {silent, disconnected}) {
    EXPECT_NE(log.find(",SN:" + serial + ","), std::string::npos) << log;
  }

  // The disconnected radio, on a cable again, has its interrupted update completed from its
  // journal entry by the next station run.
  Radio back(disconnected, {}, errors());
  ASSERT_FALSE(back.port().empty());
  auto again = station({"--policy", "newer", "--port", back.port()});
  Fields plan;
  Fields result;
  for (const std::string& line : again->rest()) {
    const auto fields = parseFlatJson(line);
    ASSERT_TRUE(fields) << line;
    if (fields->at("event") == station_event::kPlan) {
      plan = *fields;
    } else if (fields->at("event") == station_event::kResult) {
      result = *fields;
    }
  }
  const int againStatus = again->wait();
  ASSERT_TRUE(WIFEXITED(againStatus));
  EXPECT_EQ(WEXITSTATUS(againStatus), 0) << readText(errors());
  EXPECT_EQ(plan["interrupted"], "true");
  EXPECT_EQ(result["result"], "updated") << result["text"];
  EXPECT_EQ(result["firmware_after"], "R01.03.00");
}

// The processes whose parent is the one given.
std::vector<pid_t> childrenOf(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    // pid (command) state ppid ...; the command may hold spaces and parentheses.
    const std::string stat = readText(entry.path() / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
      continue;
    }
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    long ppid = 0;
    if (rest >> state >> ppid && ppid == parent) {
      children.push_back(static_cast<pid_t>(std::stol(name)));
    }
  }
  return children;
}

// Told to end while its radios are being erased, as a service manager does (SIGTERM to the
// station and to every worker) or a terminal that closes (SIGHUP), the station lets each
// update reach its safe point, records each radio's result and writes the report; the next
// run completes the updates.
TEST_F(StationTest, AnEndSignalWhileFlashingLeavesEveryRadioAtASafePointAndWritesTheReport) {
  for (const int number : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(number);
    const std::filesystem::path report =
        temp.path() / ("ended-" + std::to_string(number) + ".json");
    const std::vector<std::string> serials = {"EN" + std::to_string(number) + "01",
                                              "EN" + std::to_string(number) + "02"};
    std::vector<std::unique_ptr<Radio>> radios;
    std::vector<std::string> options{"--policy", "newer", "--report", report.string()};
    for (const std::string& serial : serials) {
      radios.push_back(std::make_unique<Radio>(serial, std::vector<std::string>{}, errors()));
      ASSERT_FALSE(radios.back()->port().empty()) << readText(errors());
      options.insert(options.end(), {"--port", radios.back()->port()});
    }
    auto run = station(options);
    bool sent = false;
    while (auto line = run->line()) {
      const auto fields = parseFlatJson(*line);
      if (!sent && fields && fields->contains("text") &&
          fields->at("text") == "erasing the firmware region") {
        for (const pid_t worker : childrenOf(run->pid())) {
          ::kill(worker, number);
        }
        run->signal(number);
        sent = true;
      }
    }
    ASSERT_TRUE(sent) << readText(errors());
    const int status = run->wait();
    ASSERT_TRUE(WIFEXITED(status)) << readText(errors());
    EXPECT_EQ(WEXITSTATUS(status), 1) << readText(errors());

    // Each radio stopped at the safe point after its firmware, which is whole, and says so in
    // the report and in the history.
    const auto reported = reportedRadios(report);
    ASSERT_EQ(reported.size(), serials.size()) << readText(report);
    for (const std::string& serial : serials) {
      SCOPED_TRACE(serial);
      EXPECT_EQ(reported.at(serial).at("result"), "failed");
      bool stopped = false;
      for (const auto& row : readHistory(historyPath(machine()))) {
        stopped = stopped || (row.at("serial_before") == serial &&
                              row.at("errors").find("Error:the update was stopped at a safe "
                                                    "point") != std::string::npos);
      }
      EXPECT_TRUE(stopped);
    }
    EXPECT_NE(readText(report).find("Error:the update was stopped at a safe point"),
              std::string::npos);

    auto again =
        station({"--policy", "newer", "--port", radios[0]->port(), "--port", radios[1]->port()});
    again->rest();
    const int againStatus = again->wait();
    ASSERT_TRUE(WIFEXITED(againStatus));
    EXPECT_EQ(WEXITSTATUS(againStatus), 0) << readText(errors());
  }
  // Every run of every radio is in the history.
  EXPECT_EQ(readHistory(historyPath(machine())).size(), 8u);
}

// Without a policy the station asks once for the whole batch, listing each radio's plan; a
// radio with nothing to program is not asked about. No answer changes nothing: exit status 3.
TEST_F(StationTest, WithoutAPolicyTheBatchIsAskedOnceAndNoAnswerChangesNothing) {
  const std::filesystem::path report = temp.path() / "batch.csv";
  std::vector<std::unique_ptr<Radio>> radios;
  std::vector<std::string> options{"--report", report.string()};
  const std::vector<std::pair<std::string, std::vector<std::string>>> fleet = {
      {"AS0000001", {}},
      {"AS0000002", {"--firmware", "R01.05.00", "--codeplug", "R01.06.00"}},
      {"AS0000003", {"--firmware", "R01.03.00", "--codeplug", "R01.04.00"}}};
  for (const auto& [serial, versions] : fleet) {
    radios.push_back(std::make_unique<Radio>(serial, versions, errors()));
    ASSERT_FALSE(radios.back()->port().empty()) << readText(errors());
    options.insert(options.end(), {"--port", radios.back()->port()});
  }

  auto run = station(options);  // its standard input is /dev/null
  run->rest();
  const int status = run->wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3) << readText(errors());

  const std::string said = readText(errors());
  EXPECT_NE(said.find(radios[0]->port() + "  AS0000001  LA26CKN9AR1  firmware R01.02.03 -> "
                                          "R01.03.00, codeplug R01.02.00 -> R01.04.00"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("AS0000002  LA26CKN9AR1  firmware R01.05.00 -> R01.03.00"), std::string::npos)
      << said;
  EXPECT_NE(said.find("(older version)"), std::string::npos) << said;
  EXPECT_EQ(said.find("Update these"), said.rfind("Update these")) << said;
  EXPECT_NE(said.find("Update these 2 radios? [y/N]"), std::string::npos) << said;
  EXPECT_NE(said.find("No answer: no radio is changed."), std::string::npos) << said;

  const std::vector<std::string> rows = lines(readText(report));
  ASSERT_EQ(rows.size(), 4u) << readText(report);
  std::map<std::string, std::string> results;
  for (const std::string& row : rows) {
    for (const auto& [serial, versions] : fleet) {
      if (row.find("," + serial + ",") != std::string::npos) {
        results[serial] = row;
      }
    }
  }
  EXPECT_NE(results["AS0000001"].find(",R01.02.03,R01.02.03,R01.02.00,R01.02.00,declined,"),
            std::string::npos)
      << results["AS0000001"];
  EXPECT_NE(results["AS0000002"].find(",declined,"), std::string::npos);
  EXPECT_NE(results["AS0000003"].find(",up to date,"), std::string::npos);
  // Nothing was written: no backup was needed.
  EXPECT_FALSE(std::filesystem::exists(machine() / "backup") &&
               !std::filesystem::is_empty(machine() / "backup"));
}

// Two radios that give the same serial number would share a journal entry and backups: the
// second is not updated, and that is a failure of the batch, not a choice of the policy.
TEST_F(StationTest, TwoRadiosWithOneSerialNumberAreNotUpdatedSideBySide) {
  const std::filesystem::path report = temp.path() / "batch.csv";
  Radio first("DU0000001", {}, errors());
  Radio second("DU0000001", {}, errors());
  ASSERT_FALSE(first.port().empty());
  ASSERT_FALSE(second.port().empty());
  auto run = station({"--port", first.port(), "--port", second.port(), "--report",
                      report.string()});  // no policy, and no answer
  run->rest();
  const int status = run->wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << readText(errors());
  const std::string text = readText(report);
  EXPECT_NE(text.find(",declined,"), std::string::npos) << text;
  EXPECT_NE(text.find(",failed,a radio with the same serial number is on cable "),
            std::string::npos)
      << text;
}

// Three radios whose serial numbers differ only in a sign each keep an entry and backups of
// their own: cut off in the middle of the firmware side by side, each is left with its own
// unfinished entry, and the next station run completes all three from them.
TEST_F(StationTest, RadiosWhoseSerialNumbersDifferInASignAreEachCompleted) {
  const std::vector<std::string> serials = {"AB/1", "AB_1", "AB:1"};
  std::vector<std::string> options{"--policy", "newer"};
  std::vector<std::unique_ptr<Radio>> radios;
  for (const std::string& serial : serials) {
    radios.push_back(std::make_unique<Radio>(
        serial, std::vector<std::string>{"--fault", "write-flash:2:disconnect"}, errors()));
    ASSERT_FALSE(radios.back()->port().empty()) << readText(errors());
    options.insert(options.end(), {"--port", radios.back()->port()});
  }
  auto first = station(options);
  first->rest();
  const int firstStatus = first->wait();
  ASSERT_TRUE(WIFEXITED(firstStatus));
  EXPECT_EQ(WEXITSTATUS(firstStatus), 1) << readText(errors());

  const UpdateJournal journal(journalFolder(machine()));
  std::set<std::filesystem::path> backups;
  for (const std::string& serial : serials) {
    SCOPED_TRACE(serial);
    JournalEntry entry;
    std::string reason;
    ASSERT_EQ(journal.read(serial, entry, reason), UpdateJournal::Found::Entry) << reason;
    EXPECT_FALSE(entry.finished);
    EXPECT_EQ(entry.stage, "programming the firmware");
    backups.insert(entry.backupFile);
  }
  EXPECT_EQ(backups.size(), serials.size());
  EXPECT_EQ(journal.list().size(), serials.size());

  // On the cables again, each radio gets its own update completed.
  radios.clear();
  options = {"--policy", "newer"};
  for (const std::string& serial : serials) {
    radios.push_back(std::make_unique<Radio>(serial, std::vector<std::string>{}, errors()));
    ASSERT_FALSE(radios.back()->port().empty()) << readText(errors());
    options.insert(options.end(), {"--port", radios.back()->port()});
  }
  auto second = station(options);
  std::map<std::string, std::string> interrupted;
  std::map<std::string, std::string> results;
  for (const std::string& line : second->rest()) {
    const auto fields = parseFlatJson(line);
    ASSERT_TRUE(fields) << line;
    if (fields->at("event") == station_event::kPlan) {
      interrupted[fields->at("serial")] = fields->at("interrupted");
    } else if (fields->at("event") == station_event::kResult) {
      results[fields->at("serial")] = fields->at("result") + ": " + fields->at("text");
    }
  }
  const int secondStatus = second->wait();
  ASSERT_TRUE(WIFEXITED(secondStatus));
  EXPECT_EQ(WEXITSTATUS(secondStatus), 0) << readText(errors());
  for (const std::string& serial : serials) {
    SCOPED_TRACE(serial);
    EXPECT_EQ(interrupted[serial], "true");
    EXPECT_EQ(results[serial], "updated: Update successful.");
    JournalEntry entry;
    std::string reason;
    ASSERT_EQ(journal.read(serial, entry, reason), UpdateJournal::Found::Entry) << reason;
    EXPECT_TRUE(entry.finished);
  }
}

// The station checks the package once, before any radio is read: a signed one's signer is in
// the report; a changed one stops the batch with what failed, and no radio is touched.
TEST_F(StationTest, TheSignedPackageIsCheckedOnceAndItsSignerReported) {
  const auto key = generateSecretKey();
  ASSERT_TRUE(key);
  std::filesystem::create_directory(temp.path() / "keys");
  std::ofstream(temp.path() / "vendor.key") << formatSecretKey(*key);
  std::ofstream(temp.path() / "keys" / "vendor.pub") << formatPublicKey(publicKeyOf(*key));
  std::ostringstream out;
  std::string error;
  ASSERT_TRUE(signPackageFolder(package(), temp.path() / "vendor.key", "station", out, error))
      << error;
  const std::filesystem::path report = temp.path() / "batch.json";
  Radio radio("SG0000001", {}, errors());
  ASSERT_FALSE(radio.port().empty());
  auto run = station({"--policy", "any", "--trusted-keys", (temp.path() / "keys").string(),
                      "--port", radio.port(), "--report", report.string()});
  run->rest();
  int status = run->wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readText(errors());
  const auto reported = reportedRadios(report);
  ASSERT_EQ(reported.size(), 1u) << readText(report);
  EXPECT_EQ(reported.at("SG0000001").at("package"),
            "signed by key " + keyIdText(key->id) + " (\"station\")");

  std::filesystem::remove(report);
  std::ofstream(package() / "config.xml", std::ios::app) << "x";
  auto refused = station({"--policy", "any", "--trusted-keys", (temp.path() / "keys").string(),
                          "--port", radio.port(), "--report", report.string()});
  EXPECT_TRUE(refused->rest().empty());
  status = refused->wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(readText(errors()).find("The update package in " + package().string() +
                                    " is refused: config.xml changed."),
            std::string::npos)
      << readText(errors());
  EXPECT_FALSE(std::filesystem::exists(report));
}

// With --watch the station updates each radio put on a cable, once: the same radio put on
// another cable later is left alone.
TEST_F(StationTest, WatchUpdatesEachRadioThatAppearsOnce) {
  const std::filesystem::path first = temp.path() / "cable-1";
  const std::filesystem::path second = temp.path() / "cable-2";
  const std::filesystem::path report = temp.path() / "watch.csv";
  auto run = station({"--watch", "--policy", "newer", "--port", first.string(), "--port",
                      second.string(), "--report", report.string()});

  const auto waitFor = [&](const std::filesystem::path& cable, const char* event) {
    return this->waitFor(*run, cable, event);
  };

  waitFor(first, station_event::kWaiting);
  auto radio =
      std::make_unique<Radio>("WA0000001", std::vector<std::string>{"--link", first}, errors());
  EXPECT_EQ(waitFor(first, station_event::kResult).at("result"), "updated");
  radio->remove();
  waitFor(first, station_event::kGone);

  // The next radio on the first cable; the updated one is put on the second.
  auto next =
      std::make_unique<Radio>("WA0000002", std::vector<std::string>{"--link", first}, errors());
  EXPECT_EQ(waitFor(first, station_event::kResult).at("result"), "updated");
  auto again =
      std::make_unique<Radio>("WA0000001", std::vector<std::string>{"--link", second}, errors());
  const Fields leftAlone = waitFor(second, station_event::kResult);
  EXPECT_EQ(leftAlone.at("result"), "skipped");
  EXPECT_EQ(leftAlone.at("serial"), "WA0000001");

  run->signal(SIGINT);
  run->rest();
  const int status = run->wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readText(errors());

  // Each radio was updated once, and only the updates are in the report.
  const std::vector<std::string> rows = lines(readText(report));
  ASSERT_EQ(rows.size(), 3u) << readText(report);
  EXPECT_NE(rows[1].find(",WA0000001,"), std::string::npos);
  EXPECT_NE(rows[1].find(",updated,"), std::string::npos);
  EXPECT_NE(rows[2].find(",WA0000002,"), std::string::npos);
  EXPECT_NE(rows[2].find(",updated,"), std::string::npos);
  const auto history = readHistory(historyPath(machine()));
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].at("serial_before"), "WA0000001");
  EXPECT_EQ(history[1].at("serial_before"), "WA0000002");
}

// Ctrl-C while a radio is being programmed: the station waits for that radio, which ends
// updated, and does not start the update of a radio whose plan comes after the signal; that
// radio is not updated, so the batch fails. Real time: the one radio is programmed on a line
// while the rest happens. The other radio's worker is held (SIGSTOP) from before that radio is
// put on until the station has taken the signal, so its plan comes after it on any machine.
TEST_F(StationTest, RealTimeCtrlCWaitsForTheRadioBeingProgrammedAndStartsNoOther) {
  // Firmware that takes many seconds on the line, for the steps below to happen meanwhile.
  writePackage(DemoPackageSizes{64 * 1024, 4096});
  const std::filesystem::path first = temp.path() / "cable-1";
  const std::filesystem::path second = temp.path() / "cable-2";
  const std::filesystem::path report = temp.path() / "stopped.json";
  // Its notes come on the same pipe as its events, in order.
  auto run = station({"--watch", "--policy", "newer", "--port", first.string(), "--port",
                      second.string(), "--report", report.string()},
                     {});
  // Both workers wait for a radio, in either order.
  std::set<std::string> waitingOn;
  while (waitingOn.size() < 2) {
    const auto line = run->line();
    ASSERT_TRUE(line) << readText(errors());
    const auto fields = parseFlatJson(*line);
    if (fields && fields->contains("cable") && fields->at("event") == station_event::kWaiting) {
      waitingOn.insert(fields->at("cable"));
    }
  }
  const pid_t held = workerOf(run->pid(), second);
  ASSERT_GT(held, 0);

  Radio programmed("CC0000001", {"--link", first.string()}, errors(), LineTime{});
  waitFor(*run, first, station_event::kProgress);
  ASSERT_EQ(::kill(held, SIGSTOP), 0);
  // Let go on every way out of the test, so that no stopped worker outlives it.
  const std::unique_ptr<const pid_t, void (*)(const pid_t*)> resume(
      &held, [](const pid_t* pid) { ::kill(*pid, SIGCONT); });
  Radio waiting("CC0000002", {"--link", second.string()}, errors());
  ASSERT_FALSE(waiting.port().empty()) << readText(errors());
  run->signal(SIGINT);
  bool stopping = false;
  std::vector<std::string> after;
  while (auto line = run->line()) {
    after.push_back(*line);
    if (*line ==
        "Stopping: 1 radio is being updated and will not be interrupted; the station "
        "ends when they are done.") {
      stopping = true;
      break;
    }
  }
  ASSERT_EQ(::kill(held, SIGCONT), 0);
  ASSERT_TRUE(stopping) << ::testing::PrintToString(after);

  Fields firstResult;
  Fields secondResult;
  for (const std::string& line : run->rest()) {
    const auto fields = parseFlatJson(line);
    if (fields && fields->contains("cable") && fields->at("event") == station_event::kResult) {
      (fields->at("cable") == first.string() ? firstResult : secondResult) = *fields;
    }
  }
  const int status = run->wait();
  ASSERT_TRUE(WIFEXITED(status)) << readText(errors());
  EXPECT_EQ(WEXITSTATUS(status), 1) << readText(errors());

  // The radio being programmed was finished, not cut off.
  EXPECT_EQ(firstResult["result"], "updated") << firstResult["text"];
  EXPECT_EQ(firstResult["firmware_after"], "R01.03.00");
  EXPECT_EQ(secondResult["serial"], "CC0000002");
  const auto reported = reportedRadios(report);
  ASSERT_EQ(reported.size(), 2u) << readText(report);
  ASSERT_TRUE(reported.contains("CC0000001") && reported.contains("CC0000002")) << readText(report);
  EXPECT_EQ(reported.at("CC0000001").at("result"), "updated");
  EXPECT_EQ(reported.at("CC0000002").at("result"), "stopped");
  EXPECT_EQ(reported.at("CC0000002").at("cause"),
            "the station was stopped before its update began");
  EXPECT_EQ(reported.at("CC0000002").at("firmware_after"), "R01.02.03");
  // Only the finished update wrote its history; the other radio was not touched.
  const auto history = readHistory(historyPath(machine()));
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].at("serial_before"), "CC0000001");
  EXPECT_FALSE(std::filesystem::exists(machine() / "journal" / "CC0000002.journal"));
}

// The policies end to end: codeplug-only updates a radio that needs only its codeplug and
// leaves one that needs firmware, with the reason in the report; any takes an older version
// too, which newer refuses. A radio skipped by the policy does not fail the batch.
TEST_F(StationTest, EachPolicyDecidesForEachRadio) {
  struct Expected {
    std::string result;
    std::string cause;
    std::string firmwareAfter;
    std::string codeplugAfter;
  };
  const struct {
    const char* policy;
    std::vector<std::pair<std::string, std::vector<std::string>>> fleet;
    std::map<std::string, Expected> expected;
  } runs[] = {
      {"codeplug-only",
       {{"PC0000001", {"--firmware", "R01.03.00", "--codeplug", "R01.02.00"}}, {"PC0000002", {}}},
       {{"PC0000001", {"updated", "", "R01.03.00", "R01.04.00"}},
        {"PC0000002",
         {"skipped", "needs firmware; the policy is codeplug-only", "R01.02.03", "R01.02.00"}}}},
      {"newer",
       {{"PN0000001", {"--firmware", "R01.05.00", "--codeplug", "R01.06.00"}}},
       {{"PN0000001",
         {"skipped", "the package is older than the radio; the policy allows no downgrade",
          "R01.05.00", "R01.06.00"}}}},
      {"any",
       {{"PA0000001", {"--firmware", "R01.05.00", "--codeplug", "R01.06.00"}}},
       {{"PA0000001", {"updated", "", "R01.03.00", "R01.04.00"}}}},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.policy);
    const std::filesystem::path report = temp.path() / (std::string(r.policy) + ".json");
    std::vector<std::unique_ptr<Radio>> radios;
    std::vector<std::string> options{"--policy", r.policy, "--report", report.string()};
    for (const auto& [serial, versions] : r.fleet) {
      radios.push_back(std::make_unique<Radio>(serial, versions, errors()));
      ASSERT_FALSE(radios.back()->port().empty()) << readText(errors());
      options.insert(options.end(), {"--port", radios.back()->port()});
    }
    auto run = station(options);
    run->rest();
    const int status = run->wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << readText(errors());

    const auto reported = reportedRadios(report);
    ASSERT_EQ(reported.size(), r.expected.size()) << readText(report);
    for (const auto& [serial, expected] : r.expected) {
      SCOPED_TRACE(serial);
      const Fields& radio = reported.at(serial);
      EXPECT_EQ(radio.at("result"), expected.result);
      EXPECT_EQ(radio.at("cause"), expected.cause);
      EXPECT_EQ(radio.at("firmware_after"), expected.firmwareAfter);
      EXPECT_EQ(radio.at("codeplug_after"), expected.codeplugAfter);
    }
  }
}

}  // namespace
}  // namespace orvik::testing
