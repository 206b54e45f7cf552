// An update interrupted at a chosen request (the tool's worker stops there, as when the tool is
// killed) is completed by the next Update, or by Get Radio Information, from its journal
// entry: the radio ends with the new firmware and codeplug, its own DYN bytes and contacts,
// normal mode and the final protection. A journal entry or backup that cannot be used is
// refused and changes nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

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

// The disk is full from the moment it is set: no file of the process grows past a few bytes.
// A write that runs into it fails with "File too large" instead of ending the program.
class FullDisk {
 public:
  FullDisk() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous_);
    ::getrlimit(RLIMIT_FSIZE, &original_);
  }
  ~FullDisk() {
    ::setrlimit(RLIMIT_FSIZE, &original_);
    ::sigaction(SIGXFSZ, &previous_, nullptr);
  }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;
  // No file grows past the bytes.
  void now(rlim_t bytes) const {
    rlimit full = original_;
    full.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &full);
  }

 private:
  rlimit original_{};
  struct sigaction previous_ {};
};

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
  void freshBench(const testing::PackageSpec& package = {}) {
    benchOwned.reset();
    benchOwned = std::make_unique<Bench>(package, testing::radioWith("R01.02.03", "R01.02.00"));
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
    bench().view.answers = {kAnswerYes};  // the go-ahead
    bench().controller.onUpdate();
    bench().radio.setRequestObserver(nullptr);
    ASSERT_EQ(seen, point.occurrence) << "the update never got there";
  }

  // Public so that tables of cases can reach them through lambdas.
 public:
  std::filesystem::path entryPath() {
    return *UpdateJournal(journalFolder(bench().folder.path())).entryPath(bench().radioSerial());
  }
  JournalEntry entry() {
    JournalEntry read;
    std::string reason;
    EXPECT_EQ(UpdateJournal(journalFolder(bench().folder.path()))
                  .read(bench().radioSerial(), read, reason),
              UpdateJournal::Found::Entry)
        << reason;
    return read;
  }
  // The requests since the count, all identity reads or not.
  bool onlyIdentityReadSince(std::size_t count) {
    const std::vector<LoggedRequest> all = bench().radio.requests();
    return std::all_of(all.begin() + static_cast<long>(count), all.end(),
                       [](const LoggedRequest& request) { return readsIdentity(request.kind); });
  }
  // The radio as an update leaves it, its personality the owner's.
  void expectUpdatedWith(const std::vector<std::uint8_t>& dynExpected) {
    EXPECT_EQ(bench().radioFirmware(), bench().package.firmware);
    EXPECT_TRUE(bench().firmwareProgrammed());
    EXPECT_TRUE(bench().codeplugProgrammed());
    EXPECT_EQ(dyn(), dynExpected);
    EXPECT_EQ(bench().radio.testMode(), SimTestMode::Normal);
    EXPECT_EQ(bench().radio.protectionMode(), 0x0840);
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
    bench().view.answers = {kAnswerYes};  // the offer to complete it
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
  bench().view.answers = {kAnswerYes};  // the go-ahead
  bench().controller.onUpdate();
  bench().radio.setRequestObserver(nullptr);
  ASSERT_EQ(piece.size(), 4105u);
  // The piece the killed tool had handed over goes out after it ended.
  bench().cable.sendFromEndedProgram(piece, bench().radio.currentBaud());

  bench().view.messages.clear();
  removeErrors(ErrorCategory::OK);
  bench().view.answers = {kAnswerYes};  // the offer to complete it
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
  bench().view.answers = {kAnswerYes};  // the offer to complete it
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

// Another radio's entry at this radio's name (planted, or left by a version of the tool whose
// names several serial numbers shared) is refused, and the message never asks to remove it.
TEST_F(InterruptedUpdateTest, AnotherRadiosEntryIsNeitherUsedNorOfferedForRemoval) {
  interruptAt(updateStopPoints()[1]);
  JournalEntry other = entry();
  other.serial = "OTHER/RADIO";
  std::ofstream(entryPath(), std::ios::trunc) << journalText(other);
  const std::size_t requests = bench().radio.requests().size();
  bench().view.messages.clear();
  bench().controller.onUpdate();
  ASSERT_EQ(bench().view.results().size(), 1u);
  const std::string text = bench().view.results()[0].text;
  EXPECT_NE(text.find("belongs to another radio [OTHER/RADIO]"), std::string::npos) << text;
  EXPECT_NE(text.find("Nothing was changed"), std::string::npos) << text;
  EXPECT_EQ(text.find("remove"), std::string::npos) << text;
  EXPECT_TRUE(bench().view.questions().empty());
  EXPECT_TRUE(onlyIdentityReadSince(requests));
  EXPECT_TRUE(std::filesystem::exists(entryPath()));
}

// Each journal write that fails (the disk full, or a file in the journal folder's place) is
// told in the result the user sees, naming the entry and what to do; the radio is left as the
// write's place in the update allows.
TEST_F(InterruptedUpdateTest, AFailedJournalWriteIsToldWithItsFileAndWhatToDo) {
  const struct {
    const char* name;
    // When the disk fills: at the occurrence of a request, or not at all.
    std::optional<StopPoint> from;
    // How large a file still fits then; a backup of a few hundred bytes (a short DYN rule)
    // fits where the journal entry does not.
    rlim_t fits;
    bool smallBackup;
    bool journalFolderIsAFile;
    unsigned style;
    std::vector<std::string> says;
    bool updated;
    const char* stageLeft;
  } cases[] = {
      {"the backup",
       StopPoint{"start", RequestKind::StatusQuery, 1, {}},
       16,
       false,
       false,
       kStyleError,
       {"could not be saved in", "File too large", "Nothing was erased. Make room on the disk"},
       false,
       ""},
      {"the journal's start",
       StopPoint{"start", RequestKind::StatusQuery, 1, {}},
       600,
       true,
       false,
       kStyleError,
       {"could not be recorded in its journal entry", "File too large",
        "Nothing was erased. Make room", "run the update again"},
       false,
       ""},
      {"the journal's start, a file in the folder's place",
       std::nullopt,
       0,
       false,
       true,
       kStyleError,
       {"could not be recorded in its journal entry", "journal", "Nothing was erased. Make room",
        "run the update again"},
       false,
       ""},
      {"the stages and the end",
       StopPoint{"erase", RequestKind::EraseFlash, 1, {}},
       16,
       false,
       false,
       kStyleWarning,
       {"Update successful.", "could not be marked finished", "File too large", "Make room",
        "out of the journal folder"},
       true,
       "erasing the firmware region"},
      {"the end",
       StopPoint{"reprotect", RequestKind::Protection, 3, {}},
       16,
       false,
       false,
       kStyleWarning,
       {"Update successful.", "could not be marked finished", "File too large"},
       true,
       "re-protecting the radio"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::PackageSpec package;
    if (c.smallBackup) {
      package.dynLength = "40";
    }
    freshBench(package);
    const std::vector<std::uint8_t> dynBefore = dyn();
    if (c.journalFolderIsAFile) {
      std::ofstream(journalFolder(bench().folder.path())) << "in the way";
    }
    {
      FullDisk disk;
      int seen = 0;
      if (c.from) {
        bench().radio.setRequestObserver(
            [&](const LoggedRequest& request, std::optional<FaultKind>) {
              if (c.from->reached(request, seen)) {
                disk.now(c.fits);
              }
            });
      }
      bench().view.answers = {kAnswerYes};  // the go-ahead
      bench().controller.onUpdate();
      bench().radio.setRequestObserver(nullptr);
    }

    ASSERT_EQ(bench().view.results().size(), 1u);
    const Shown shown = bench().view.results()[0];
    EXPECT_EQ(shown.style, c.style) << shown.text;
    for (const std::string& part : c.says) {
      EXPECT_NE(shown.text.find(part), std::string::npos) << part << " in\n" << shown.text;
    }
    if (c.updated) {
      expectUpdatedWith(dynBefore);
      EXPECT_EQ(bench().radio.contacts(), inRestoreOrder(contacts));
      EXPECT_NE(shown.text.find(entryPath().string()), std::string::npos) << shown.text;
      const JournalEntry left = entry();
      EXPECT_FALSE(left.finished);
      EXPECT_EQ(left.stage, c.stageLeft);
    } else {
      EXPECT_EQ(bench().radio.count(RequestKind::EraseFlash), 0);
      EXPECT_FALSE(bench().firmwareProgrammed());
      EXPECT_EQ(dyn(), dynBefore);
    }
  }
}

// An entry that stayed unfinished though its update went through (every journal write failed)
// meets the radio again after its owner has used it: the completion does not write the old
// personality over the new one on the strength of an answer by rule. It asks a person, and
// nothing answers that in test mode; only Yes writes it back.
TEST_F(InterruptedUpdateTest, AStaleEntryIsNotCompletedOverAChangedPersonalityWithoutAPerson) {
  const std::vector<std::uint8_t> dynBefore = dyn();
  {
    FullDisk disk;
    bench().radio.setRequestObserver([&](const LoggedRequest& request, std::optional<FaultKind>) {
      if (request.kind == RequestKind::EraseFlash) {
        disk.now(16);
      }
    });
    bench().view.answers = {kAnswerYes};  // the go-ahead
    bench().controller.onUpdate();
    bench().radio.setRequestObserver(nullptr);
  }
  ASSERT_EQ(bench().view.results().size(), 1u);
  ASSERT_FALSE(entry().finished);
  expectUpdatedWith(dynBefore);

  // The owner changes a setting and adds a contact.
  std::vector<std::uint8_t> owners = dynBefore;
  owners[0x10] ^= 0x77;
  bench().radio.setMemoryBytes(0x820000, owners);
  std::vector<std::vector<std::uint8_t>> ownersContacts = bench().radio.contacts();
  std::vector<std::uint8_t> added(20, 0x66);
  added[7] = 2;
  ownersContacts.push_back(added);
  bench().radio.setContacts(ownersContacts);

  const auto expectLeftAlone = [&](const char* how) {
    SCOPED_TRACE(how);
    EXPECT_EQ(dyn(), owners);
    EXPECT_EQ(bench().radio.contacts(), ownersContacts);
    EXPECT_EQ(bench().radio.testMode(), SimTestMode::Normal);
    EXPECT_EQ(bench().radio.count(RequestKind::EraseFlash), 0);
    EXPECT_EQ(bench().radio.count(RequestKind::MemWrite), 0);
    EXPECT_FALSE(entry().finished);
  };

  // The question to complete it is answered Yes (as --yes or a station would), the person's
  // question No.
  bench().radio.clearLog();
  bench().view.messages.clear();
  bench().view.answers = {kAnswerYes, kAnswerNo};
  bench().controller.onUpdate();
  std::vector<std::string> questions = bench().view.questions();
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_NE(questions[1].find("no longer the one saved before it"), std::string::npos)
      << questions[1];
  ASSERT_EQ(bench().view.results().size(), 1u);
  EXPECT_EQ(bench().view.results()[0].style, kStyleWarning);
  EXPECT_NE(bench().view.results()[0].text.find("needs a person's decision"), std::string::npos)
      << bench().view.results()[0].text;
  EXPECT_NE(bench().view.results()[0].text.find(entryPath().string()), std::string::npos);
  expectLeftAlone("answered No");

  // In test mode nobody is asked, and nothing is written.
  bench().radio.clearLog();
  bench().view.messages.clear();
  ASSERT_EQ(bench().console(ConsoleMessage::EnterTestMode), 1);
  bench().controller.onUpdate();
  EXPECT_TRUE(bench().view.questions().empty());
  EXPECT_FALSE(bench().controller.lastOutcome().succeeded());
  expectLeftAlone("test mode");
  ASSERT_EQ(bench().console(ConsoleMessage::ExitTestMode), 1);

  // A person's Yes writes the saved personality back and completes the update.
  bench().radio.clearLog();
  bench().view.messages.clear();
  bench().view.answers = {kAnswerYes, kAnswerYes};
  bench().controller.onUpdate();
  EXPECT_EQ(bench().view.questions().size(), 2u);
  EXPECT_EQ(bench().view.results(),
            (std::vector<Shown>{Shown{testing::kUpdated, kStyleInformation}}));
  expectCompleted(dynBefore);
}

// The completion finds the update's files by name and digest in the package in use: a package
// folder that was moved still completes it; a package without those files is refused, naming
// the package needed, and nothing is sent to the radio but identity reads.
TEST_F(InterruptedUpdateTest, TheCompletionFindsItsFilesInThePackageInUse) {
  for (const bool samePackage : {true, false}) {
    SCOPED_TRACE(samePackage ? "moved" : "another package");
    freshBench();
    const std::vector<std::uint8_t> dynBefore = dyn();
    interruptAt(updateStopPoints()[1]);
    const std::filesystem::path moved = bench().folder.path() / "moved";
    if (samePackage) {
      std::filesystem::rename(bench().dataDir(), moved);
    } else {
      std::filesystem::remove_all(bench().dataDir());
      testing::PackageSpec other;
      other.firmware = "R01.05.00";
      testing::writePackage(moved, bench().folder.path() / "other-setup.dat", other);
    }
    // The tool starts on that package.
    ASSERT_TRUE(
        bench().config.LoadConfig((moved / "config.xml").string(), bench().setupPath().string()));

    bench().view.messages.clear();
    const std::size_t requests = bench().radio.requests().size();
    if (samePackage) {
      bench().view.answers = {kAnswerYes};  // the offer to complete it
    }
    bench().controller.onUpdate();
    if (samePackage) {
      EXPECT_EQ(bench().view.results(),
                (std::vector<Shown>{Shown{testing::kUpdated, kStyleInformation}}));
      expectCompleted(dynBefore);
      EXPECT_EQ(entry().firmwareFile, moved / "firmware.kxk");
    } else {
      ASSERT_EQ(bench().view.results().size(), 1u);
      const std::string text = bench().view.results()[0].text;
      EXPECT_EQ(bench().view.results()[0].style, kStyleError);
      EXPECT_NE(text.find("does not hold the files it programmed: the firmware file "
                          "firmware.kxk. Nothing was changed."),
                std::string::npos)
          << text;
      EXPECT_NE(text.find("firmware R01.03.00, codeplug R01.04.00"), std::string::npos) << text;
      EXPECT_NE(text.find(bench().dataDir().string()), std::string::npos) << text;
      EXPECT_TRUE(onlyIdentityReadSince(requests));
      EXPECT_FALSE(entry().finished);
      EXPECT_TRUE(bench().view.questions().empty());  // no offer it could not keep
    }
  }
}

// The journal names the package (the SHA-256 of its SHA256SUMS) an update began with; another
// package does not complete it, the same one does.
TEST_F(InterruptedUpdateTest, ItIsCompletedOnlyFromThePackageItBeganWith) {
  const auto packageWith = [](char digit) {
    auto trust = std::make_shared<PackageTrust>();
    trust->manifestSha256 = std::string(64, digit);
    return trust;
  };
  const std::vector<std::uint8_t> dynBefore = dyn();
  bench().controller.setPackageTrust(packageWith('a'));
  interruptAt(updateStopPoints()[1]);
  bench().controller.setPackageTrust(packageWith('b'));
  const std::size_t requests = bench().radio.requests().size();
  bench().view.answers = {kAnswerYes};  // the offer to complete it
  bench().controller.onUpdate();
  const std::string shown = bench().view.results().back().text;
  EXPECT_NE(shown.find("it began with another update package (the SHA-256 of its SHA256SUMS was " +
                       std::string(64, 'a') + "; this one's is " + std::string(64, 'b')),
            std::string::npos)
      << shown;
  const std::vector<LoggedRequest> all = bench().radio.requests();
  for (auto request = all.begin() + static_cast<long>(requests); request != all.end(); ++request) {
    EXPECT_TRUE(readsIdentity(request->kind)) << requestKindName(request->kind);
  }

  bench().controller.setPackageTrust(packageWith('a'));
  bench().view.answers = {kAnswerYes};
  bench().controller.onUpdate();
  expectCompleted(dynBefore);
}

}  // namespace
}  // namespace orvik
