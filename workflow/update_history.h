#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "commands/update_journal.h"
#include "workflow/main_controller.h"

namespace orvik {

// One line of the update history: what a run did to which radio and how it ended.
struct HistoryEntry {
  UpdateRecord record;
  ActionOutcome outcome;
  std::chrono::milliseconds duration{0};
};

// The history file below the per-machine folder: <data-dir>/log/history.jsonl.
std::filesystem::path historyPath(const std::filesystem::path& dataDir);

// One JSON object per line; false when the line could not be appended, with the reason. A line
// that only partly fits (a full disk) is taken back, so the file stays whole lines.
bool appendHistory(const std::filesystem::path& path, const HistoryEntry& entry,
                   std::string& reason);
bool appendHistory(const std::filesystem::path& path, const HistoryEntry& entry);
std::string historyLine(const HistoryEntry& entry);

// An update observer for the controller that appends each run, timed from its start to now, to
// the history file; tells `err` when a line could not be written.
std::function<void(const UpdateRecord&, const ActionOutcome&)> historyWriter(
    std::filesystem::path path, std::ostream& err);

// The fields of a line that is a flat JSON object of texts, numbers and booleans (numbers and
// booleans as written); nothing for any other line.
std::optional<std::map<std::string, std::string>> parseFlatJson(std::string_view line);

// The fields of every line that parses as a flat JSON object of texts, numbers and booleans;
// other lines are skipped.
std::vector<std::map<std::string, std::string>> readHistory(const std::filesystem::path& path);
// The same lines as written, each a JSON object, for a reader that wants them whole; a byte
// that is not UTF-8 is written as \u00XX, as jsonString does.
std::vector<std::string> readHistoryLines(const std::filesystem::path& path);

// The history as a table for people.
void printHistory(std::ostream& out, const std::vector<std::map<std::string, std::string>>& rows);

// The updates the journal holds as unfinished, and its entries that cannot be read; nothing
// when there are none.
void printUnfinishedUpdates(std::ostream& out, const std::vector<UpdateJournal::Listed>& entries);

// How an action ended, in one word: "information", "warning", "error", "question" or
// "cancelled".
const char* outcomeStyleName(const ActionOutcome& outcome);

// A JSON string literal of the text (quotes included), with control characters escaped. It is
// valid UTF-8 whatever the text holds: a byte that is not part of well-formed UTF-8 is written
// as \u00XX, the Latin-1 character of its value.
std::string jsonString(const std::string& text);

}  // namespace orvik
