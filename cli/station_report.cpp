#include "cli/station_report.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <span>
#include <string_view>

#include "base/file_replace.h"
#include "base/text.h"
#include "cli/station_events.h"
#include "workflow/update_history.h"

namespace orvik {
namespace {

struct Column {
  const char* name;
  std::string StationRadio::*field;
};

// The columns of the CSV report, which are also the JSON report's texts.
constexpr std::array<Column, 12> kColumns{{
    {"cable", &StationRadio::cable},
    {"device", &StationRadio::device},
    {"serial", &StationRadio::serial},
    {"model", &StationRadio::model},
    {"firmware_before", &StationRadio::firmwareBefore},
    {"firmware_after", &StationRadio::firmwareAfter},
    {"codeplug_before", &StationRadio::codeplugBefore},
    {"codeplug_after", &StationRadio::codeplugAfter},
    {"result", &StationRadio::result},
    {"cause", &StationRadio::cause},
    {"backup", &StationRadio::backup},
    {"package", &StationRadio::package},
}};

std::string csvField(const std::string& text) {
  // A spreadsheet takes a cell that starts with one of these as a formula (a radio's serial
  // "=1+2" would be computed, a crafted one could run a command): a leading apostrophe makes it
  // text, as spreadsheet-safe CSV writers do. The JSON report keeps the text as it is.
  std::string cell;
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    cell = "'";
  }
  cell += text;
  if (cell.find_first_of(",\"\r\n") == std::string::npos) {
    return cell;
  }
  std::string out = "\"";
  for (const char c : cell) {
    out += c;
    if (c == '"') {
      out += '"';
    }
  }
  return out + "\"";
}

}  // namespace

bool StationRadio::succeeded() const {
  return result == station_result::kUpdated || result == station_result::kUpToDate ||
         result == station_result::kSkipped;
}

std::optional<ReportFormat> reportFormatFor(const std::filesystem::path& file) {
  std::string extension = file.extension().string();
  for (char& c : extension) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  if (extension == ".csv") {
    return ReportFormat::Csv;
  }
  if (extension == ".json") {
    return ReportFormat::Json;
  }
  return std::nullopt;
}

std::string reportTime(std::chrono::system_clock::time_point when) {
  if (when == std::chrono::system_clock::time_point{}) {
    return {};
  }
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  std::array<char, 64> text{};
  if (localtime_r(&t, &local) == nullptr ||
      std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S%z", &local) == 0) {
    return {};
  }
  return text.data();
}

std::string reportCsv(const std::vector<StationRadio>& radios) {
  std::string out;
  for (const Column& column : kColumns) {
    out += column.name;
    out += ',';
  }
  out += "started,ended\r\n";
  for (const StationRadio& radio : radios) {
    for (const Column& column : kColumns) {
      out += csvField(radio.*column.field);
      out += ',';
    }
    out += reportTime(radio.started) + "," + reportTime(radio.ended) + "\r\n";
  }
  return out;
}

std::string reportJson(const std::vector<StationRadio>& radios) {
  std::string out = "{\"radios\":[";
  for (std::size_t i = 0; i < radios.size(); ++i) {
    const StationRadio& radio = radios[i];
    out += i == 0 ? "\n  {" : ",\n  {";
    for (const Column& column : kColumns) {
      out += jsonString(column.name) + ":" + jsonString(radio.*column.field) + ",";
    }
    out += "\"started\":" + jsonString(reportTime(radio.started)) +
           ",\"ended\":" + jsonString(reportTime(radio.ended)) + ",\"report\":[";
    for (std::size_t line = 0; line < radio.report.size(); ++line) {
      // Appended piece by piece: g++ 12 at -O3 takes "," + string for an overlapping copy.
      if (line != 0) {
        out += ',';
      }
      out += jsonString(radio.report[line]);
    }
    out += "]}";
  }
  out += radios.empty() ? "]}\n" : "\n]}\n";
  return out;
}

bool ReportFile::create(const std::filesystem::path& file, bool replace, std::string& error) {
  const auto format = reportFormatFor(file);
  if (!format) {
    error = "the report file must end in .csv or .json";
    return false;
  }
  file_ = file;
  format_ = *format;
  const std::string text = *format == ReportFormat::Csv ? reportCsv({}) : reportJson({});
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  int code = 0;
  switch (writeOwnFile(file, bytes, replace ? OwnFileWrite::Replace : OwnFileWrite::New, identity_,
                       code)) {
    case OwnFileResult::Written:
      created_ = true;
      return true;
    case OwnFileResult::Exists:
      error = "the report file " + printableText(file.string()) +
              " exists already; name a new file, or give --force to replace it";
      return false;
    case OwnFileResult::NotOurs:
    case OwnFileResult::Failed:
      break;
  }
  error = "cannot create the report file " + printableText(file.string()) + ": " +
          std::strerror(code) + "; check that its folder exists and may be written";
  return false;
}

bool ReportFile::write(const std::vector<StationRadio>& radios, std::string& error) {
  if (!created_) {
    error = "the report file was not created";
    return false;
  }
  const std::string text = format_ == ReportFormat::Csv ? reportCsv(radios) : reportJson(radios);
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  int code = 0;
  switch (writeOwnFile(file_, bytes, OwnFileWrite::Rewrite, identity_, code)) {
    case OwnFileResult::Written:
      return true;
    case OwnFileResult::NotOurs:
      error = printableText(file_.string()) +
              " is no longer the report this station made (it was moved, removed or replaced), "
              "so it is left alone; the results are in the update history (orvik-cli history)";
      return false;
    case OwnFileResult::Exists:
    case OwnFileResult::Failed:
      break;
  }
  error = "cannot write " + printableText(file_.string()) + ": " + std::strerror(code) +
          "; the results are in the update history (orvik-cli history)";
  return false;
}

}  // namespace orvik
