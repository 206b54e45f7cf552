// The update station's report file and its table.
#include "cli/station_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/station_table.h"
#include "tests/package/temp_folder.h"
#include "workflow/update_history.h"

namespace orvik {
namespace {

std::vector<StationRadio> batch() {
  StationRadio updated;
  updated.cable = "FT4QX2B7";
  updated.device = "/dev/ttyUSB0";
  updated.serial = "1234ABC5678";
  updated.model = "LA26CKN9AR1";
  updated.firmwareBefore = "R01.02.03";
  updated.firmwareAfter = "R01.03.00";
  updated.result = "updated";
  updated.backup = "/machine/backup/1234ABC5678_20261210-140509.orvp";
  updated.started = std::chrono::system_clock::from_time_t(1'800'000'000);
  updated.ended = updated.started + std::chrono::seconds(65);
  StationRadio failed = updated;
  failed.cable = "usb-FTDI_VL_CPS_Cable,\"2\"-if00-port0";
  failed.serial = "9876ZYX5432";
  failed.result = "failed";
  failed.cause = "Update failed. (Error:failed to write flash [65536], retried (0x010).)";
  failed.report = {
      "Update radio failed (Model:LA26CKN9AR1,SN:9876ZYX5432,...), this's caused by:\n"
      "Error:failed to write flash.",
      "The radio's personality is saved in [x]."};
  return {updated, failed};
}

std::vector<std::string> csvLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(StationReportTest, CsvHasOneRowPerRadioWithTextsQuoted) {
  const std::vector<std::string> lines = csvLines(reportCsv(batch()));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "cable,device,serial,model,firmware_before,firmware_after,codeplug_before,"
            "codeplug_after,result,cause,backup,package,started,ended\r");
  EXPECT_EQ(lines[1].rfind("FT4QX2B7,/dev/ttyUSB0,1234ABC5678,LA26CKN9AR1,R01.02.03,R01.03.00,,,"
                           "updated,,/machine/backup/1234ABC5678_20261210-140509.orvp,",
                           0),
            0u)
      << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 1), "\r");
  // A comma or a quote in a field: the field is quoted, the quote doubled.
  EXPECT_EQ(lines[2].rfind("\"usb-FTDI_VL_CPS_Cable,\"\"2\"\"-if00-port0\",", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find(",failed,\"Update failed. (Error:failed to write flash [65536], retried "
                          "(0x010).)\","),
            std::string::npos)
      << lines[2];
  // Start and end, in local time with its offset.
  const std::string started = reportTime(batch()[0].started);
  ASSERT_EQ(started.size(), 24u) << started;
  EXPECT_NE(lines[1].find("," + started + "," + reportTime(batch()[0].ended) + "\r"),
            std::string::npos);
}

TEST(StationReportTest, JsonHasEachRadioWithItsOwnFailureReport) {
  const std::string text = reportJson(batch());
  std::vector<std::string> lines = csvLines(text);
  ASSERT_EQ(lines.size(), 4u) << text;
  EXPECT_EQ(lines[0], "{\"radios\":[");
  EXPECT_EQ(lines[3], "]}");
  for (std::size_t i = 1; i <= 2; ++i) {
    const std::string& line = lines[i];
    const std::string flat = line.substr(2, line.find(",\"report\":") - 2) + "}";
    const auto fields = parseFlatJson(flat);
    ASSERT_TRUE(fields) << line;
    EXPECT_EQ(fields->at("serial"), batch()[i - 1].serial);
    EXPECT_EQ(fields->at("cable"), batch()[i - 1].cable);
    EXPECT_EQ(fields->at("result"), batch()[i - 1].result);
  }
  EXPECT_NE(lines[1].find(",\"report\":[]}"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(",\"report\":[\"Update radio failed (Model:LA26CKN9AR1,SN:9876ZYX5432,"
                          "...), this's caused by:\\nError:failed to write flash.\",\"The radio's "
                          "personality is saved in [x].\"]}"),
            std::string::npos)
      << lines[2];
  EXPECT_EQ(reportJson({}), "{\"radios\":[]}\n");
}

TEST(StationReportTest, TheFileIsWrittenAndReplacedWholeByItsExtension) {
  EXPECT_EQ(reportFormatFor("batch.csv"), ReportFormat::Csv);
  EXPECT_EQ(reportFormatFor("BATCH.JSON"), ReportFormat::Json);
  EXPECT_FALSE(reportFormatFor("batch.txt"));
  EXPECT_FALSE(reportFormatFor("csv"));

  testing::TempFolder folder;
  const std::filesystem::path file = folder.path() / "batch.csv";
  std::string error;
  ASSERT_TRUE(writeReport(file, {batch()[0]}, error)) << error;
  ASSERT_TRUE(writeReport(file, batch(), error)) << error;
  std::ifstream in(file);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, reportCsv(batch()));
  EXPECT_FALSE(writeReport(folder.path() / "batch.txt", batch(), error));
  EXPECT_FALSE(writeReport(folder.path() / "missing" / "batch.csv", batch(), error));
  EXPECT_FALSE(error.empty());
}

TEST(StationTableTest, ColumnsLineUpAndLinesFitTheTerminal) {
  StationRow row;
  row.cable = "FT4QX2B7";
  row.serial = "1234ABC5678";
  row.firmware = "R01.02.03 -> R01.03.00";
  row.step = "programming the default block and more words than fit";
  row.progress = 45;
  row.time = minutesAndSeconds(65);
  StationRow waiting;
  waiting.cable = "/dev/pts/12";
  waiting.step = "waiting for a radio";
  const std::vector<std::string> lines = stationTableLines({row, waiting}, 200);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].find("Radio"), lines[1].find("1234ABC5678"));
  EXPECT_EQ(lines[0].find("Step"), lines[2].find("waiting for a radio"));
  EXPECT_NE(lines[1].find("programming the default block "), std::string::npos);
  EXPECT_EQ(lines[1].find("more words"), std::string::npos);
  EXPECT_NE(lines[1].find("[####      ] 45%  1:05"), std::string::npos) << lines[1];
  for (const std::string& line : stationTableLines({row, waiting}, 40)) {
    EXPECT_LE(line.size(), 40u);
  }
  EXPECT_EQ(minutesAndSeconds(9), "0:09");
}

// What a radio reports is shown, never obeyed: an escape sequence in its serial number or
// model cannot move the cursor over the other rows or clear the screen.
TEST(StationTableTest, TheRadiosTextsCannotDrawOnTheTerminal) {
  StationRow row;
  row.cable = "/dev/pts/3";
  row.serial = "12\x1b[2J34";
  row.model = "LA26\rforged";
  row.result = "failed: \x1b[1Fgone";
  for (const std::string& line : stationTableLines({row}, 200)) {
    EXPECT_EQ(line.find_first_of("\x1b\r"), std::string::npos) << line;
  }
  EXPECT_NE(stationTableLines({row}, 200)[1].find("12\\x1B[2J34"), std::string::npos);
}

}  // namespace
}  // namespace orvik
