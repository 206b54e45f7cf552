#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "workflow/main_controller.h"

namespace orvik {

// One line of the update history: what a run did to which radio and how it ended.
struct HistoryEntry {
  std::string kind;  // "update" or "serial"
  std::chrono::system_clock::time_point started;
  std::chrono::milliseconds duration{0};
  UpdateRecord record;
  ActionOutcome outcome;
};

// The history file below the per-machine folder: <data-dir>/log/history.jsonl.
std::filesystem::path historyPath(const std::filesystem::path& dataDir);

// One JSON object per line; false when the line could not be appended.
bool appendHistory(const std::filesystem::path& path, const HistoryEntry& entry);
std::string historyLine(const HistoryEntry& entry);

// The fields of every line that parses as a flat JSON object of texts, numbers and booleans;
// other lines are skipped.
std::vector<std::map<std::string, std::string>> readHistory(const std::filesystem::path& path);

// The history as a table for people.
void printHistory(std::ostream& out, const std::vector<std::map<std::string, std::string>>& rows);

// A JSON string literal of the text (quotes included), with control characters escaped.
std::string jsonString(const std::string& text);

}  // namespace orvik
