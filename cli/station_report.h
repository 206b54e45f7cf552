#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/file_replace.h"

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

// The report file of one station run. It is made at the start of the run, so that an existing
// file (the owner's, or a link planted at the name) is never overwritten without --force, and
// each later write replaces only the file this run made, never writing through a link.
class ReportFile {
 public:
  // Creates the file with a report of no radios; a name already taken is refused unless
  // replace is set, and then what is there (a link too) is replaced by a new file, never
  // written through. False with the reason for the user.
  bool create(const std::filesystem::path& file, bool replace, std::string& error);
  // Replaces the file with the report of the radios, as long as its name still holds the file
  // this run made. False with the reason for the user.
  bool write(const std::vector<StationRadio>& radios, std::string& error);

 private:
  std::filesystem::path file_;
  ReportFormat format_ = ReportFormat::Csv;
  FileIdentity identity_;
  bool created_ = false;
};

// "2026-12-10T14:05:09+0100" in local time; empty for a time never set.
std::string reportTime(std::chrono::system_clock::time_point when);

}  // namespace orvik
