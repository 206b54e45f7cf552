// The update history as the tool writes it after each run, and as `history` reads it back.
#include "workflow/update_history.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/workflow/workflow_fixture.h"

namespace orvik {
namespace {

using testing::Bench;
using testing::TempFolder;

class UpdateHistoryTest : public testing::ErrorTextTest {};

TEST_F(UpdateHistoryTest, EachRunAppendsOneLineWithWhatItDid) {
  Bench bench;
  const std::filesystem::path file = historyPath(bench.folder.path() / "machine");
  std::ostringstream err;
  bench.controller.setUpdateObserver(historyWriter(file, err));

  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  bench.view.passwords = {"12345678"};
  bench.controller.onDealerLogin();
  bench.view.typedSerial = "123ABCD5678";
  bench.controller.onUpdateSerialNumber();
  // Already up to date: the check is recorded too.
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();

  EXPECT_EQ(err.str(), "");
  // It names the owners' radios: the user's alone.
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const auto rows = readHistory(file);
  ASSERT_EQ(rows.size(), 3u);
  const std::map<std::string, std::string> update = rows[0];
  EXPECT_EQ(update.at("kind"), "update");
  EXPECT_EQ(update.at("model"), "LA26CKN9AR1");
  EXPECT_EQ(update.at("firmware_before"), "R01.02.03");
  EXPECT_EQ(update.at("firmware_after"), "R01.03.00");
  EXPECT_EQ(update.at("keep_personality"), "true");
  EXPECT_EQ(update.at("result"), testing::kUpdated);
  EXPECT_EQ(update.at("style"), "information");
  EXPECT_FALSE(update.at("time").empty());
  EXPECT_GE(std::stoll(update.at("duration_ms")), 0);
  EXPECT_FALSE(update.at("personality_backup").empty());

  const std::map<std::string, std::string> serial = rows[1];
  EXPECT_EQ(serial.at("kind"), "serial");
  EXPECT_EQ(serial.at("serial_before"), "1234ABC5678");
  EXPECT_EQ(serial.at("serial_after"), "123ABCD5678");
  EXPECT_EQ(serial.at("style"), "information");

  EXPECT_EQ(rows[2].at("kind"), "update");
  EXPECT_EQ(rows[2].at("result"), testing::kLatest);
  EXPECT_EQ(rows[2].at("firmware_after"), "R01.03.00");
}

TEST_F(UpdateHistoryTest, TextsSurviveTheRoundTripAndOtherLinesAreSkipped) {
  TempFolder folder;
  const std::filesystem::path file = folder.path() / "log" / "history.jsonl";
  HistoryEntry entry;
  entry.record.kind = "update";
  entry.record.model = "LA26\"CKN\\9";
  entry.record.errorLines = "Error:first line.\nError:second\tline \x01.";
  entry.record.cable = "FT4QX2B7";
  entry.outcome = {"Update failed.", kStyleError, false};
  ASSERT_TRUE(appendHistory(file, entry));
  std::ofstream(file, std::ios::app) << "{\"kind\":\"torn\n"
                                     << "not json\n";
  entry.outcome.cancelled = true;
  ASSERT_TRUE(appendHistory(file, entry));

  const auto rows = readHistory(file);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("model"), entry.record.model);
  EXPECT_EQ(rows[0].at("errors"), entry.record.errorLines);
  EXPECT_EQ(rows[0].at("cable"), "FT4QX2B7");
  EXPECT_EQ(rows[0].at("style"), "error");
  EXPECT_EQ(rows[1].at("style"), "cancelled");
}

TEST_F(UpdateHistoryTest, AHistoryThatCannotBeWrittenIsReported) {
  TempFolder folder;
  std::ofstream(folder.path() / "log") << "a file where the folder should be";
  const std::filesystem::path file = folder.path() / "log" / "history.jsonl";
  std::ostringstream err;
  historyWriter(file, err)(UpdateRecord{}, ActionOutcome{});
  EXPECT_EQ(err.str(), "Cannot append to " + file.string() +
                           " (Not a directory): this run is not in the update history. Free space "
                           "on its disk or make the file writable for the next runs.\n");
}

// A full disk takes part of a line: the part is taken back, so that the next run's line is not
// glued to it and both stay readable; the failure is said, with what to do.
TEST_F(UpdateHistoryTest, ALineThatDoesNotFitIsTakenBackAndSaid) {
  TempFolder folder;
  const std::filesystem::path file = folder.path() / "log" / "history.jsonl";
  HistoryEntry entry;
  entry.record.kind = "update";
  entry.record.model = "LA26CKN9AR1";
  entry.outcome = {"Update successful.", kStyleInformation, false};
  ASSERT_TRUE(appendHistory(file, entry));
  const auto before = std::filesystem::file_size(file);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const rlimit full{before + 10, before + 10};  // room for "{\"time\":\"2" only
    ::setrlimit(RLIMIT_FSIZE, &full);
    std::ostringstream err;
    historyWriter(file, err)(entry.record, entry.outcome);
    const bool said = err.str() == "Cannot append to " + file.string() +
                                       " (File too large): this run is not in the update "
                                       "history. Free space on its disk or make the file "
                                       "writable for the next runs.\n";
    ::_exit(said ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(std::filesystem::file_size(file), before);
  ASSERT_TRUE(appendHistory(file, entry));
  EXPECT_EQ(readHistory(file).size(), 2u);
  EXPECT_EQ(readHistoryLines(file).size(), 2u);

  // A link planted at the name is not written through.
  const std::filesystem::path target = folder.path() / "target";
  std::ofstream(target) << "kept";
  std::filesystem::remove(file);
  std::filesystem::create_symlink(target, file);
  std::string reason;
  EXPECT_FALSE(appendHistory(file, entry, reason));
  EXPECT_EQ(reason, std::strerror(ELOOP));
  EXPECT_EQ(std::filesystem::file_size(target), 4u);
}

// JSON out of the history and the reports is valid UTF-8 whatever a path or a radio holds: a
// byte that is not UTF-8 becomes the Latin-1 character of its value; valid UTF-8 stays.
TEST_F(UpdateHistoryTest, JsonTextsAreAlwaysValidUtf8) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"q\"b\\\n\t\x01", "\"q\\\"b\\\\\\n\\t\\u0001\""},
      {"/backup/AB\xff"
       "1.orvp",
       "\"/backup/AB\\u00ff1.orvp\""},
      {"\xc3(", "\"\\u00c3(\""},
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},
      {"caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x93\xbb",
       "\"caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x93\xbb\""},
      {"\xc2\x9b", "\"\xc2\x9b\""},  // a C1 control is valid UTF-8 and JSON
  };
  for (const auto& c : cases) {
    EXPECT_EQ(jsonString(c.in), c.out) << c.out;
  }
  // A line an older tool wrote with the raw byte is read as valid UTF-8 too.
  TempFolder folder;
  const std::filesystem::path file = folder.path() / "history.jsonl";
  std::ofstream(file) << "{\"kind\":\"update\",\"personality_backup\":\"/b/AB\xff.orvp\"}\n";
  EXPECT_EQ(readHistoryLines(file),
            std::vector<std::string>{
                "{\"kind\":\"update\",\"personality_backup\":\"/b/AB\\u00ff.orvp\"}"});
  // Read back, the byte is its Latin-1 character.
  const auto fields = parseFlatJson("{\"path\":" + jsonString("AB\xff") + "}");
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->at("path"), "AB\xc3\xbf");
}

}  // namespace
}  // namespace orvik
