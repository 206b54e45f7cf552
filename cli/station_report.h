#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

// One radio that the update station met: a line of its report.
struct StationRadio {
  std::string cable;   // the cable's position: USB serial number, by-id name or port
  std::string device;  // the port it was updated through
  std::string serial;
  std::string model;
  std::string firmwareBefore;
  std::string firmwareAfter;
  std::string codeplugBefore;
  std::string codeplugAfter;
  std::string plan;    // what the update was to do, in words
  std::string result;  // one of station_result
  std::string cause;   // why it failed or was skipped
  // The radio's failure report as written to the error log.
  std::vector<std::string> report;
  std::string backup;  // the personality backup file the update saved
  // Who signed the update package (checked once for the batch), or "not signed".
  std::string package;
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point ended;

  // Updated, or left as the policy wants it.
  bool succeeded() const;
};

enum class ReportFormat { Csv, Json };

// By the file's extension (.csv, .json); nothing for another one.
std::optional<ReportFormat> reportFormatFor(const std::filesystem::path& file);

std::string reportCsv(const std::vector<StationRadio>& radios);
std::string reportJson(const std::vector<StationRadio>& radios);

// Replaces the file with the report; false with the reason when it cannot.
bool writeReport(const std::filesystem::path& file, const std::vector<StationRadio>& radios,
                 std::string& error);

// "2026-12-10T14:05:09+0100" in local time; empty for a time never set.
std::string reportTime(std::chrono::system_clock::time_point when);

}  // namespace orvik
