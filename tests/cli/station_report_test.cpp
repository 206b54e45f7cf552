// The update station's report file and its table.
#include "cli/station_report.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>

#include "cli/exit_codes.h"
#include "cli/station.h"
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

// The time zone of the process while it lives, the one before restored after.
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    if (const char* before = std::getenv("TZ")) {
      before_ = before;
    }
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~LocalZone() {
    if (before_) {
      ::setenv("TZ", before_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  LocalZone(const LocalZone&) = delete;
  LocalZone& operator=(const LocalZone&) = delete;

 private:
  std::optional<std::string> before_;
};

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
  const LocalZone utc("UTC");
  EXPECT_EQ(csvLines(reportCsv(batch()))[1],
            "FT4QX2B7,/dev/ttyUSB0,1234ABC5678,LA26CKN9AR1,R01.02.03,R01.03.00,,,updated,,"
            "/machine/backup/1234ABC5678_20261210-140509.orvp,,2027-01-15T08:00:00+0000,"
            "2027-01-15T08:01:05+0000\r");
}

TEST(StationReportTest, TimesAreLocalWithTheirOffset) {
  const LocalZone utc("UTC");
  EXPECT_EQ(reportTime(batch()[0].started), "2027-01-15T08:00:00+0000");
  const LocalZone behind("EST5");
  EXPECT_EQ(reportTime(batch()[0].started), "2027-01-15T03:00:00-0500");
  EXPECT_EQ(reportTime({}), "");
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
  ReportFile report;
  ASSERT_TRUE(report.create(file, false, error)) << error;
  ASSERT_TRUE(report.write({batch()[0]}, error)) << error;
  ASSERT_TRUE(report.write(batch(), error)) << error;
  std::ifstream in(file);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, reportCsv(batch()));
  EXPECT_FALSE(ReportFile().create(folder.path() / "batch.txt", false, error));
  EXPECT_FALSE(ReportFile().create(folder.path() / "missing" / "batch.csv", false, error));
  EXPECT_FALSE(error.empty());
}

// A radio's text that a spreadsheet would take as a formula is made text in the CSV report;
// the JSON report keeps it as the radio sent it.
TEST(StationReportTest, CsvCellsASpreadsheetWouldComputeAreMadeText) {
  const struct {
    std::string text;
    std::string cell;
  } cases[] = {
      {"=1+2", "'=1+2"},
      {"+SUM(1,2)", "\"'+SUM(1,2)\""},
      {"-2+3", "'-2+3"},
      {"@A1", "'@A1"},
      {"\t=1", "'\t=1"},
      {"\r=1", "\"'\r=1\""},
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"1234=ABC", "1234=ABC"},
      {"R01.03.00", "R01.03.00"},
      {"", ""},
  };
  for (const auto& c : cases) {
    StationRadio radio;
    radio.serial = c.text;
    radio.model = "LA26CKN9AR1";
    const std::string csv = reportCsv({radio});
    const std::string row = csv.substr(csv.find("\r\n") + 2);
    EXPECT_EQ(row.rfind(",," + c.cell + ",LA26CKN9AR1,", 0), 0u) << row;
    const std::string json = reportJson({radio});
    EXPECT_NE(json.find("\"serial\":" + jsonString(c.text) + ","), std::string::npos) << json;
  }
}

std::string contentOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The report is made new at the start of the run: the owner's file or a planted link at its
// name is never written, unless --force, and then a link is replaced, not written through.
// Later writes replace only the file the run made.
TEST(StationReportTest, TheReportNeverOverwritesAFileOrWritesThroughALink) {
  testing::TempFolder folder;
  const std::filesystem::path owners = folder.path() / "owners.csv";
  std::ofstream(owners) << "the owner's sheet";
  const std::filesystem::path link = folder.path() / "batch.csv";
  std::filesystem::create_symlink(owners, link);
  std::string error;
  for (const std::filesystem::path& taken : {owners, link}) {
    ReportFile report;
    EXPECT_FALSE(report.create(taken, false, error));
    EXPECT_EQ(error, "the report file " + taken.string() +
                         " exists already; name a new file, or give --force to replace it");
    EXPECT_FALSE(report.write(batch(), error));
  }
  EXPECT_EQ(contentOf(owners), "the owner's sheet");

  ReportFile forced;
  ASSERT_TRUE(forced.create(link, true, error)) << error;
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_EQ(contentOf(link), reportCsv({}));
  EXPECT_EQ(contentOf(owners), "the owner's sheet");
  ASSERT_TRUE(forced.write(batch(), error)) << error;
  EXPECT_EQ(contentOf(link), reportCsv(batch()));

  // A link put at the name during the run is left alone, and so is what it points at.
  std::filesystem::remove(link);
  std::filesystem::create_symlink(owners, link);
  EXPECT_FALSE(forced.write(batch(), error));
  EXPECT_EQ(error, link.string() +
                       " is no longer the report this station made (it was moved, removed or "
                       "replaced), so it is left alone; the results are in the update history "
                       "(orvik-cli history)");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(contentOf(owners), "the owner's sheet");
}

// A station whose report name is taken stops before any radio is touched and says what to do.
TEST(StationReportTest, AStationDoesNotStartOnATakenReportName) {
  testing::TempFolder folder;
  const std::filesystem::path taken = folder.path() / "batch.csv";
  std::ofstream(taken) << "the owner's sheet";
  StationOptions options;
  options.ports = {(folder.path() / "no-such-port").string()};
  options.policy = StationPolicy::Newer;
  options.report = taken;
  options.program = "/nonexistent/orvik-cli";  // no worker may start
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(runStation(options, in, out, err), kExitUsage);
  EXPECT_EQ(err.str(), "Cannot write the report: the report file " + taken.string() +
                           " exists already; name a new file, or give --force to replace it.\n");
  EXPECT_EQ(contentOf(taken), "the owner's sheet");
}

// On a full disk a rewrite fails whole: the file keeps the last report, and the reason is said.
TEST(StationReportTest, ARewriteThatDoesNotFitLeavesTheLastReport) {
  testing::TempFolder folder;
  const std::filesystem::path file = folder.path() / "batch.json";
  std::string error;
  ReportFile report;
  ASSERT_TRUE(report.create(file, false, error)) << error;
  ASSERT_TRUE(report.write({batch()[0]}, error)) << error;
  const std::string last = contentOf(file);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const rlimit full{last.size() + 10, last.size() + 10};
    ::setrlimit(RLIMIT_FSIZE, &full);
    std::string reason;
    const bool written = report.write(batch(), reason);
    ::_exit(!written && reason == "cannot write " + file.string() +
                                      ": File too large; the results are in the update history "
                                      "(orvik-cli history)"
                ? 0
                : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(contentOf(file), last);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left
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
