#include "cli/station_report.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <span>

#include "base/file_replace.h"
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
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    return text;
  }
  std::string out = "\"";
  for (const char c : text) {
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

bool writeReport(const std::filesystem::path& file, const std::vector<StationRadio>& radios,
                 std::string& error) {
  const auto format = reportFormatFor(file);
  if (!format) {
    error = "the report file must end in .csv or .json";
    return false;
  }
  const std::string text = *format == ReportFormat::Csv ? reportCsv(radios) : reportJson(radios);
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  // The first report of a run is a new file; the later ones of a --watch run replace it whole.
  int createError = 0;
  switch (createFileWithContents(file, bytes, createError)) {
    case CreateFileResult::Created:
      return true;
    case CreateFileResult::Exists:
      if (replaceFileContents(file, bytes)) {
        return true;
      }
      error = "cannot replace " + file.string();
      return false;
    case CreateFileResult::Failed:
      break;
  }
  error = "cannot write " + file.string() + ": " + std::strerror(createError);
  return false;
}

}  // namespace orvik
