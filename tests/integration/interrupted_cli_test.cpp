// orvik-cli killed (SIGKILL) in the middle of an update against the simulated radio on a pty,
// at a chosen request; a plain second `orvik-cli update --yes` then completes the update from
// the journal. The radio ends with the new firmware and codeplug, its own DYN bytes and
// contacts, normal mode and the final protection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "commands/update_journal.h"
#include "exec/radio_info.h"
#include "pack/demo_package.h"
#include "sim/pty_radio_server.h"
#include "sim/sim_radio.h"
#include "tests/commands/program_fixture.h"
#include "tests/support/stop_points.h"

namespace orvik::testing {
namespace {

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class InterruptedCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("ORVIK_BUILD_DIR");
    if (build == nullptr) {
      GTEST_SKIP() << "ORVIK_BUILD_DIR is not set";
    }
    cli = std::filesystem::path(build) / "bin" / "orvik-cli";
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(
        writeDemoPackage(temp.path() / "package", machine() / "data" / "setup.dat", out, error))
        << error;
  }

  std::filesystem::path machine() const { return temp.path() / "machine"; }

  // Runs orvik-cli with the arguments; its pid is in `running` while it runs. The wait status.
  int runCli(const std::string& port, const std::vector<std::string>& arguments,
             const std::string& outputName) {
    std::vector<std::string> all{
        cli.string(), "--port",          port, "--package", (temp.path() / "package").string(),
        "--data-dir", machine().string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const std::string output = (temp.path() / outputName).string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, all[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    if (spawned != 0) {
      return -1;
    }
    running.store(pid);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    running.store(-1);
    return status;
  }

  TempFolder temp;
  std::filesystem::path cli;
  std::atomic<pid_t> running{-1};
};

TEST_F(InterruptedCliTest, AKilledUpdateIsCompletedByTheNextRun) {
  for (const StopPoint& point : updateStopPoints()) {
    SCOPED_TRACE(point.name);
    // A radio, a pty and a machine of their own for each point.
    std::error_code ignored;
    std::filesystem::remove_all(machine() / "journal", ignored);
    std::filesystem::remove_all(machine() / "backup", ignored);
    SimRadio radio;
    PtyRadioServer server(radio);
    ASSERT_TRUE(server.open()) << server.error();
    std::jthread serving([&server](std::stop_token stop) { server.serve(stop); });
    const std::vector<Bytes> contacts = {contactRecord(1, 1), contactRecord(4, 2),
                                         contactRecord(2, 3), contactRecord(3, 4),
                                         contactRecord(1, 5)};
    radio.setContacts(contacts);
    const Bytes dyn = radio.memoryBytes(kDynAddress, kDynSize);

    int seen = 0;
    radio.setRequestObserver([&](const LoggedRequest& request, std::optional<FaultKind>) {
      if (point.reached(request, seen)) {
        const pid_t pid = running.load();
        if (pid > 0) {
          kill(pid, SIGKILL);
        }
      }
    });
    const int killed = runCli(server.slavePath(), {"update", "--yes"}, "first.txt");
    radio.setRequestObserver(nullptr);
    ASSERT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL)
        << readText(temp.path() / "first.txt");

    // The history names the unfinished update.
    EXPECT_EQ(runCli(server.slavePath(), {"history"}, "history.txt"), 0);
    EXPECT_NE(readText(temp.path() / "history.txt").find("Unfinished update"), std::string::npos)
        << readText(temp.path() / "history.txt");

    const int second = runCli(server.slavePath(), {"update", "--yes"}, "second.txt");
    const std::string said = readText(temp.path() / "second.txt");
    ASSERT_TRUE(WIFEXITED(second) && WEXITSTATUS(second) == 0) << said;
    EXPECT_NE(said.find("was interrupted"), std::string::npos) << said;
    EXPECT_NE(said.find("Update successful."), std::string::npos) << said;

    EXPECT_EQ(radio.flashBytes(kFirmwareStart, demoImage().size()), demoImage());
    EXPECT_EQ(radio.flashBytes(0x84000, demoDefBlock().size()), demoDefBlock());
    EXPECT_EQ(radio.memoryBytes(kDynAddress, kDynSize), dyn);
    EXPECT_EQ(radio.contacts(),
              (std::vector<Bytes>{contactRecord(4, 2), contactRecord(2, 3), contactRecord(3, 4),
                                  contactRecord(1, 1), contactRecord(1, 5)}));
    EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
    EXPECT_EQ(radio.protectionMode(), 0x0840);
    serving.request_stop();
    serving.join();
  }
}

// An entry left unfinished by an update that went through (its writes failed on a full disk),
// met by the radio after its owner has changed its settings: `update --yes` does not write the
// old personality back. The question is printed, --yes does not answer it, and the radio keeps
// its owner's settings, back in normal mode.
TEST_F(InterruptedCliTest, YesNeverWritesAnOldPersonalityOverANewOne) {
  SimRadio radio;
  PtyRadioServer server(radio);
  ASSERT_TRUE(server.open()) << server.error();
  std::jthread serving([&server](std::stop_token stop) { server.serve(stop); });
  const int first = runCli(server.slavePath(), {"update", "--yes"}, "first.txt");
  ASSERT_TRUE(WIFEXITED(first) && WEXITSTATUS(first) == 0) << readText(temp.path() / "first.txt");

  const UpdateJournal journal(journalFolder(machine()));
  const std::string serial = RadioInfo::serialText(radio.config().serialNumber).value_or("");
  JournalEntry entry;
  std::string reason;
  ASSERT_EQ(journal.read(serial, entry, reason), UpdateJournal::Found::Entry) << reason;
  entry.finished = false;
  entry.stage = "starting";
  ASSERT_TRUE(journal.write(entry, reason)) << reason;
  Bytes owners = radio.memoryBytes(kDynAddress, kDynSize);
  owners[0x20] ^= 0x5A;
  radio.setMemoryBytes(kDynAddress, owners);
  const std::size_t requests = radio.requests().size();

  const int second = runCli(server.slavePath(), {"update", "--yes"}, "second.txt");
  const std::string said = readText(temp.path() / "second.txt");
  ASSERT_TRUE(WIFEXITED(second) && WEXITSTATUS(second) == 1) << said;
  EXPECT_NE(said.find("was interrupted"), std::string::npos) << said;
  EXPECT_NE(said.find("[y/N] (not answered by --yes) \n"), std::string::npos) << said;
  EXPECT_NE(said.find("needs a person's decision"), std::string::npos) << said;
  EXPECT_EQ(said.find("Update successful."), std::string::npos) << said;
  EXPECT_EQ(radio.memoryBytes(kDynAddress, kDynSize), owners);
  EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
  const std::vector<LoggedRequest> all = radio.requests();
  for (auto request = all.begin() + static_cast<long>(requests); request != all.end(); ++request) {
    EXPECT_NE(request->kind, RequestKind::EraseFlash);
    EXPECT_NE(request->kind, RequestKind::MemWrite);
  }
  ASSERT_EQ(journal.read(serial, entry, reason), UpdateJournal::Found::Entry) << reason;
  EXPECT_FALSE(entry.finished);
  serving.request_stop();
  serving.join();
}

// Ctrl-C, SIGTERM and SIGHUP while the radio is being erased do not end the tool there: it
// says why, programs the firmware to its end and then fails the run as a failed update does;
// the next run completes the update. Before anything is erased each ends the tool at once.
TEST_F(InterruptedCliTest, AnEndSignalWaitsForTheNextSafePointOnlyWhileFlashing) {
  const struct {
    const char* name;
    StopPoint point;
    bool flashing;
  } cases[] = {
      {"during the first erase", {"erase", RequestKind::EraseFlash, 1, {}}, true},
      {"during the backup", {"backup", RequestKind::MemRead, 1, {}}, false},
  };
  const struct {
    const char* name;
    int number;
  } signals[] = {{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}};
  for (const auto& c : cases) {
    for (const auto& sent : signals) {
      SCOPED_TRACE(std::string(c.name) + ", " + sent.name);
      std::error_code ignored;
      std::filesystem::remove_all(machine() / "journal", ignored);
      std::filesystem::remove_all(machine() / "backup", ignored);
      std::filesystem::remove_all(machine() / "log", ignored);
      SimRadio radio;
      PtyRadioServer server(radio);
      ASSERT_TRUE(server.open()) << server.error();
      std::jthread serving([&server](std::stop_token stop) { server.serve(stop); });
      const Bytes dyn = radio.memoryBytes(kDynAddress, kDynSize);
      int seen = 0;
      radio.setRequestObserver([&](const LoggedRequest& request, std::optional<FaultKind>) {
        if (c.point.reached(request, seen)) {
          const pid_t pid = running.load();
          if (pid > 0) {
            kill(pid, sent.number);
          }
        }
      });
      const int status = runCli(server.slavePath(), {"update", "--yes"}, "said.txt");
      radio.setRequestObserver(nullptr);
      const std::string said = readText(temp.path() / "said.txt");
      if (!c.flashing) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sent.number) << said;
        EXPECT_EQ(radio.count(RequestKind::EraseFlash), 0);
      } else {
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << said;
        // The firmware went in whole, the default block was not touched.
        EXPECT_EQ(radio.flashBytes(kFirmwareStart, demoImage().size()), demoImage());
        const std::string backup =
            std::filesystem::directory_iterator(machine() / "backup")->path().string();
        EXPECT_NE(said.find("\nStopping now would leave the radio without firmware; the update "
                            "will stop at the next safe point.\n"),
                  std::string::npos)
            << said;
        // No step after the firmware: the run ends, keeping what it saved.
        const std::string expected = "70% firmware\nThe radio's personality is saved in " + backup +
                                     "\nTo write it back: orvik-cli restore-personality " + backup +
                                     "\n";
        EXPECT_NE(said.find(expected), std::string::npos) << said;
        const std::string end =
            "Update failed.\n"
            "The update of this radio is not finished (it stopped while programming the "
            "firmware). Update completes it.\n"
            "Cause: Error:the update was stopped at a safe point, as the user asked.\n"
            "Next: keep the radio switched on and on the cable, then run orvik-cli update "
            "again; it completes the update.\n"
            "Details are in " +
            (machine() / "log" / "err.log").string() + "\n";
        EXPECT_TRUE(said.ends_with(end)) << said;
        const std::string history = readText(machine() / "log" / "history.jsonl");
        EXPECT_NE(history.find("Error:the update was stopped at a safe point"), std::string::npos)
            << history;

        // The next run completes it.
        const int again = runCli(server.slavePath(), {"update", "--yes"}, "again.txt");
        const std::string completed = readText(temp.path() / "again.txt");
        ASSERT_TRUE(WIFEXITED(again) && WEXITSTATUS(again) == 0) << completed;
        EXPECT_NE(completed.find("was interrupted"), std::string::npos) << completed;
        EXPECT_NE(completed.find("Update successful."), std::string::npos) << completed;
        EXPECT_EQ(radio.flashBytes(0x84000, demoDefBlock().size()), demoDefBlock());
        EXPECT_EQ(radio.memoryBytes(kDynAddress, kDynSize), dyn);
        EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
        EXPECT_EQ(radio.protectionMode(), 0x0840);
      }
      serving.request_stop();
      serving.join();
    }
  }
}

// Ctrl-C, SIGTERM and SIGHUP while a personality is being written back do not leave the radio
// with part of it: the tool says so and the restore runs to its end.
TEST_F(InterruptedCliTest, AnEndSignalWhileThePersonalityIsWrittenBackLetsTheRestoreFinish) {
  SimRadio radio;
  PtyRadioServer server(radio);
  ASSERT_TRUE(server.open()) << server.error();
  std::jthread serving([&server](std::stop_token stop) { server.serve(stop); });
  const Bytes dyn = radio.memoryBytes(kDynAddress, kDynSize);
  const int updated = runCli(server.slavePath(), {"update", "--yes"}, "update.txt");
  ASSERT_TRUE(WIFEXITED(updated) && WEXITSTATUS(updated) == 0)
      << readText(temp.path() / "update.txt");
  const std::string backup =
      std::filesystem::directory_iterator(machine() / "backup")->path().string();
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(number);
    int seen = 0;
    radio.setRequestObserver([&](const LoggedRequest& request, std::optional<FaultKind>) {
      if (request.kind == RequestKind::MemWrite && ++seen == 2) {
        const pid_t pid = running.load();
        if (pid > 0) {
          kill(pid, number);
        }
      }
    });
    const int status =
        runCli(server.slavePath(), {"restore-personality", backup, "--yes"}, "restore.txt");
    radio.setRequestObserver(nullptr);
    const std::string said = readText(temp.path() / "restore.txt");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
    EXPECT_NE(said.find("Stopping now would leave the radio with part of its personality; the "
                        "restore ends first.\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(radio.memoryBytes(kDynAddress, kDynSize), dyn);
    EXPECT_EQ(radio.testMode(), SimTestMode::Normal);
    EXPECT_EQ(radio.protectionMode(), 0x0840);
  }
  serving.request_stop();
  serving.join();
}

}  // namespace
}  // namespace orvik::testing
