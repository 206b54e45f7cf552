// An update interrupted at a chosen request (the tool's worker stops there, as when the tool is
// killed) is completed by the next Update, or by Get Radio Information, from its journal
// entry: the radio ends with the new firmware and codeplug, its own DYN bytes and contacts,
// normal mode and the final protection. A journal entry or backup that cannot be used is
// refused and changes nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "commands/update_journal.h"
#include "tests/support/stop_points.h"
#include "tests/workflow/workflow_fixture.h"

namespace orvik {
namespace {

using testing::Bench;
using testing::StopPoint;
using testing::updateStopPoints;

// Thrown at the chosen request: the worker stops where it stands, as a killed tool would.
struct ToolEnded {};

// The requests of an identity read, which change nothing.
bool readsIdentity(RequestKind kind) {
  return kind == RequestKind::StatusQuery || kind == RequestKind::SoftpotRead;
}

std::vector<std::vector<std::uint8_t>> someContacts() {
  std::vector<std::vector<std::uint8_t>> records;
  for (std::uint8_t i = 0; i < 6; ++i) {
    std::vector<std::uint8_t> record(20, static_cast<std::uint8_t>(0x40 + i));
    record[7] = static_cast<std::uint8_t>(i % 4 + 1);  // the list kind
    records.push_back(record);
  }
  return records;
}

std::vector<std::vector<std::uint8_t>> inRestoreOrder(
    const std::vector<std::vector<std::uint8_t>>& records) {
  std::vector<std::vector<std::uint8_t>> ordered;
  for (const std::uint8_t kind : {4, 2, 3, 1}) {
    for (const auto& record : records) {
      if (record[7] == kind) {
        ordered.push_back(record);
      }
    }
  }
  return ordered;
}

class InterruptedUpdateTest : public testing::ErrorTextTest {
 protected:
  using Shown = testing::RecordingView::Shown;

  void SetUp() override {
    ErrorTextTest::SetUp();
    freshBench();
  }
  // A new tool and a new radio with the contacts.
  void freshBench() {
    benchOwned.reset();
    benchOwned = std::make_unique<Bench>(testing::PackageSpec{},
                                         testing::radioWith("R01.02.03", "R01.02.00"));
    benchOwned->radio.setContacts(contacts);
  }

 public:
  Bench& bench() { return *benchOwned; }

 protected:
  std::vector<std::uint8_t> dyn() { return bench().radio.memoryBytes(0x820000, 0x1000); }

  // Runs an update that stops at the point; the radio then holds whatever it had reached.
  void interruptAt(const StopPoint& point) {
    int seen = 0;
    bench().radio.setRequestObserver(
        [&point, &seen](const LoggedRequest& request, std::optional<FaultKind>) {
          if (point.reached(request, seen)) {
            throw ToolEnded{};
          }
        });
    bench().controller.onUpdate();
    bench().radio.setRequestObserver(nullptr);
    ASSERT_EQ(seen, point.occurrence) << "the update never got there";
  }

  // Public so that tables of cases can reach them through lambdas.
 public:
  std::filesystem::path entryPath() {
    return *UpdateJournal(journalFolder(bench().folder.path())).entryPath(bench().radioSerial());
  }

 protected:
  // The radio as a whole update leaves it.
  void expectCompleted(const std::vector<std::uint8_t>& dynBefore) {
    EXPECT_EQ(bench().radioFirmware(), bench().package.firmware);
    EXPECT_TRUE(bench().firmwareProgrammed());
    EXPECT_TRUE(bench().codeplugProgrammed());
    EXPECT_EQ(dyn(), dynBefore);
    EXPECT_EQ(bench().radio.contacts(), inRestoreOrder(contacts));
    EXPECT_EQ(bench().radio.testMode(), SimTestMode::Normal);
    EXPECT_EQ(bench().radio.protectionMode(), 0x0840);
    JournalEntry entry;
    std::string reason;
    ASSERT_EQ(UpdateJournal(journalFolder(bench().folder.path()))
                  .read(bench().radioSerial(), entry, reason),
              UpdateJournal::Found::Entry);
    EXPECT_TRUE(entry.finished);
  }

  const std::vector<std::vector<std::uint8_t>> contacts = someContacts();
  std::unique_ptr<Bench> benchOwned;
};

TEST_F(InterruptedUpdateTest, TheNextUpdateCompletesItFromTheSavedPersonality) {
  for (const StopPoint& point : updateStopPoints()) {
    SCOPED_TRACE(point.name);
    freshBench();
    const std::vector<std::uint8_t> dynBefore = dyn();

    interruptAt(point);
    // The failure says the update is unfinished and where the personality is.
    ASSERT_FALSE(bench().view.messages.empty());
    EXPECT_NE(bench().view.messages.back().text.find("not finished"), std::string::npos)
        << bench().view.messages.back().text;
    ASSERT_EQ(bench().view.backupsShown.size(), 1u);
    const std::filesystem::path backup = bench().view.backupsShown[0];
    std::ifstream saved(backup, std::ios::binary);
    const std::string backupBytes((std::istreambuf_iterator<char>(saved)),
                                  std::istreambuf_iterator<char>());

    // The same plain Update again: one question, which offers to complete the update.
    bench().view.messages.clear();
    removeErrors(ErrorCategory::OK);
    bench().controller.onUpdate();
    const std::vector<std::string> questions = bench().view.questions();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_NE(questions[0].find("was interrupted"), std::string::npos) << questions[0];
    EXPECT_NE(questions[0].find(backup.string()), std::string::npos) << questions[0];
    // A front end that answers by a rule is told it completes that update.
    ASSERT_FALSE(bench().view.proposals.empty());
    const UpdateProposal& completion = bench().view.proposals.back();
    EXPECT_TRUE(completion.completesInterrupted);
    EXPECT_EQ(completion.serial, bench().radioSerial());
    EXPECT_EQ(completion.programming, UpdatePlan::Programming::FirmwareAndCodeplug);
    EXPECT_EQ(completion.firmwareAfter, "R01.03.00");
    EXPECT_EQ(completion.codeplugAfter, "R01.04.00");
    const std::vector<Shown> updated = {Shown{testing::kUpdated, kStyleInformation}};
    EXPECT_EQ(bench().view.results(), updated);
    expectCompleted(dynBefore);

    // No new backup was taken, and the one of record is as it was.
    std::size_t backups = 0;
    for (const auto& file : std::filesystem::directory_iterator(backup.parent_path())) {
      backups += file.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(backups, 1u);
    std::ifstream again(backup, std::ios::binary);
    EXPECT_EQ(
        std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()),
        backupBytes);
  }
}

// Right after a killed update the radio may still be taking in the last piece the tool had
// handed over, and answer it while the next run connects, on a line that keeps real time.
// The next run waits for the line to fall quiet before it speaks, and completes the update at
// the first try.
TEST_F(InterruptedUpdateTest, ARadioStillAnsweringTheKilledRunsLastPieceIsCompletedAtOnce) {
  bench().cable.keepLineTime(std::chrono::milliseconds(1));
  const std::vector<std::uint8_t> dynBefore = dyn();
  std::vector<std::uint8_t> piece;
  int seen = 0;
  bench().radio.setRequestObserver([&](const LoggedRequest& request, std::optional<FaultKind>) {
    if (request.kind == RequestKind::WriteFlash && ++seen == 3) {
      piece = request.bytes;
      throw ToolEnded{};
    }
  });
  bench().controller.onUpdate();
  bench().radio.setRequestObserver(nullptr);
  ASSERT_EQ(piece.size(), 4105u);
  // The piece the killed tool had handed over goes out after it ended.
  bench().cable.sendFromEndedProgram(piece, bench().radio.currentBaud());

  bench().view.messages.clear();
  removeErrors(ErrorCategory::OK);
  bench().controller.onUpdate();
  const std::vector<Shown> updated = {Shown{testing::kUpdated, kStyleInformation}};
  ASSERT_EQ(bench().view.results(), updated) << bench().view.results()[0].text;
  EXPECT_EQ(bench().view.questions().size(), 1u);
  expectCompleted(dynBefore);
}

TEST_F(InterruptedUpdateTest, GetRadioInformationOffersToCompleteIt) {
  const std::vector<std::uint8_t> dynBefore = dyn();
  interruptAt(updateStopPoints()[2]);  // at the block reset: DYN and contacts are gone

  bench().view.messages.clear();
  bench().controller.onGetRadioInfo();
  const std::vector<std::string> questions = bench().view.questions();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_TRUE(questions[0].starts_with("Successfully get radio information.")) << questions[0];
  expectCompleted(dynBefore);
}

TEST_F(InterruptedUpdateTest, DeclinedCompletionChangesNothing) {
  interruptAt(updateStopPoints()[1]);
  const std::size_t requests = bench().radio.requests().size();
  bench().view.answers = {kAnswerNo};
  bench().controller.onUpdate();
  EXPECT_TRUE(bench().controller.lastOutcome().cancelled);
  // Only the identity was read.
  const std::vector<LoggedRequest> all = bench().radio.requests();
  for (auto request = all.begin() + static_cast<long>(requests); request != all.end(); ++request) {
    EXPECT_TRUE(readsIdentity(request->kind)) << requestKindName(request->kind);
  }
}

TEST_F(InterruptedUpdateTest, AnEntryOrBackupThatCannotBeUsedIsRefusedAndNothingChanges) {
  const struct {
    const char* name;
    std::function<std::filesystem::path(InterruptedUpdateTest&)> damage;
    const char* says;
  } cases[] = {
      {"damaged journal entry", [](InterruptedUpdateTest& t) { return t.entryPath(); },
       "The record of this radio's last update"},
      {"damaged backup", [](InterruptedUpdateTest& t) { return t.bench().view.backupsShown.at(0); },
       "the personality saved before it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    freshBench();
    interruptAt(updateStopPoints()[1]);
    const std::filesystem::path damaged = c.damage(*this);
    {
      std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(12);
      file.put('#');
    }
    std::ifstream before(entryPath(), std::ios::binary);
    const std::string entryBefore((std::istreambuf_iterator<char>(before)),
                                  std::istreambuf_iterator<char>());
    const std::size_t requests = bench().radio.requests().size();

    bench().view.messages.clear();
    bench().controller.onUpdate();
    ASSERT_EQ(bench().view.results().size(), 1u);
    EXPECT_EQ(bench().view.results()[0].style, kStyleError);
    EXPECT_NE(bench().view.results()[0].text.find(c.says), std::string::npos)
        << bench().view.results()[0].text;
    EXPECT_NE(bench().view.results()[0].text.find("Nothing was changed."), std::string::npos);
    EXPECT_TRUE(bench().view.questions().empty());
    const std::vector<LoggedRequest> all = bench().radio.requests();
    for (auto request = all.begin() + static_cast<long>(requests); request != all.end();
         ++request) {
      EXPECT_TRUE(readsIdentity(request->kind)) << requestKindName(request->kind);
    }
    std::ifstream after(entryPath(), std::ios::binary);
    EXPECT_EQ(
        std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()),
        entryBefore);
    EXPECT_NE(bench().logText().find(c.says), std::string::npos);
  }
}

}  // namespace
}  // namespace orvik
