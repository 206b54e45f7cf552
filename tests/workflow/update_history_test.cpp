// The update history as the tool writes it after each run, and as `history` reads it back.
#include "workflow/update_history.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

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
  EXPECT_EQ(err.str(), "Cannot append to " + file.string() + "\n");
}

}  // namespace
}  // namespace orvik
