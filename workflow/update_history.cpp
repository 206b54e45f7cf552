#include "workflow/update_history.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>

#include "base/file_replace.h"
#include "base/private_files.h"
#include "base/text.h"

namespace orvik {
namespace {

std::string isoTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  std::array<char, 64> text{};
  if (localtime_r(&t, &local) == nullptr ||
      std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S%z", &local) == 0) {
    return {};
  }
  return text.data();
}

// A small reader for the flat objects this file writes.
class FlatJsonReader {
 public:
  explicit FlatJsonReader(std::string_view text) : text_(text) {}

  std::optional<std::map<std::string, std::string>> object() {
    std::map<std::string, std::string> fields;
    skipSpace();
    if (!take('{')) {
      return std::nullopt;
    }
    skipSpace();
    if (take('}')) {
      return fields;
    }
    for (;;) {
      skipSpace();
      const auto key = string();
      skipSpace();
      if (!key || !take(':')) {
        return std::nullopt;
      }
      skipSpace();
      const bool quoted = pos_ < text_.size() && text_[pos_] == '"';
      const auto value = scalar();
      if (!value) {
        return std::nullopt;
      }
      plainScalars_ = plainScalars_ && (quoted || jsonScalar(*value));
      fields[*key] = *value;
      skipSpace();
      if (take('}')) {
        return fields;
      }
      if (!take(',')) {
        return std::nullopt;
      }
    }
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::optional<std::string> string() {
    if (!take('"')) {
      return std::nullopt;
    }
    std::string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') {
        return out;
      }
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= text_.size()) {
        return std::nullopt;
      }
      const char e = text_[pos_++];
      switch (e) {
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'u': {
          if (pos_ + 4 > text_.size()) {
            return std::nullopt;
          }
          int code = 0;
          const char* first = text_.data() + pos_;
          if (std::from_chars(first, first + 4, code, 16).ptr != first + 4) {
            return std::nullopt;
          }
          pos_ += 4;
          if (code < 0x80) {
            out.push_back(static_cast<char>(code));
          } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
          } else {
            out.push_back('?');  // this file writes no such escape
          }
          break;
        }
        default:
          out.push_back(e);
      }
    }
    return std::nullopt;
  }
  std::optional<std::string> scalar() {
    if (pos_ < text_.size() && text_[pos_] == '"') {
      return string();
    }
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '}') {
      ++pos_;
    }
    std::string value(text_.substr(start, pos_ - start));
    while (!value.empty() && value.back() == ' ') {
      value.pop_back();
    }
    if (value.empty()) {
      return std::nullopt;
    }
    return value;
  }

 public:
  // After object(): nothing but spaces follows, and every value that is not a text is a
  // number, true, false or null, so that the line is JSON as it stands.
  bool wholeJson() {
    skipSpace();
    return pos_ == text_.size() && plainScalars_;
  }

 private:
  static bool jsonScalar(const std::string& value) {
    if (value == "true" || value == "false" || value == "null") {
      return true;
    }
    if (value.empty() || (value[0] != '-' && (value[0] < '0' || value[0] > '9'))) {
      return false;  // not inf or nan either
    }
    double number = 0;
    const char* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, number);
    return ec == std::errc() && ptr == end;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool plainScalars_ = true;
};

}  // namespace

std::filesystem::path historyPath(const std::filesystem::path& dataDir) {
  return dataDir / "log" / "history.jsonl";
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    const auto u = static_cast<unsigned char>(c);
    const std::size_t length = utf8CharLength(text, pos);
    if (length == 0) {
      // A byte that is not UTF-8 (a path or a radio's text may hold any) is written as the
      // Latin-1 character of its value, so that the output is always valid UTF-8 and the byte
      // can still be told; well-formed UTF-8 is written as it is.
      out += formatText("\\u%04x", u);
      ++pos;
      continue;
    }
    if (length > 1) {
      out.append(text, pos, length);
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20) {
      out += formatText("\\u%04x", u);
    } else {
      out.push_back(c);
    }
    pos += length;
  }
  out.push_back('"');
  return out;
}

const char* outcomeStyleName(const ActionOutcome& outcome) {
  if (outcome.cancelled) {
    return "cancelled";
  }
  switch (outcome.style) {
    case kStyleInformation:
      return "information";
    case kStyleWarning:
      return "warning";
    case kStyleError:
      return "error";
    default:
      return "question";
  }
}

std::string historyLine(const HistoryEntry& entry) {
  const UpdateRecord& r = entry.record;
  std::ostringstream out;
  out << "{\"time\":" << jsonString(isoTime(r.started)) << ",\"kind\":" << jsonString(r.kind)
      << ",\"duration_ms\":" << entry.duration.count() << ",\"model\":" << jsonString(r.model)
      << ",\"serial_before\":" << jsonString(r.serialBefore)
      << ",\"serial_after\":" << jsonString(r.serialAfter)
      << ",\"firmware_before\":" << jsonString(r.firmwareBefore)
      << ",\"firmware_after\":" << jsonString(r.firmwareAfter)
      << ",\"codeplug_before\":" << jsonString(r.codeplugBefore)
      << ",\"codeplug_after\":" << jsonString(r.codeplugAfter)
      << ",\"keypad_before\":" << jsonString(r.keypadBefore)
      << ",\"keypad_after\":" << jsonString(r.keypadAfter)
      << ",\"package_firmware\":" << jsonString(r.toolFirmware)
      << ",\"package_codeplug\":" << jsonString(r.toolCodeplug)
      << ",\"package_sha256\":" << jsonString(r.packageSha256)
      << ",\"keep_personality\":" << (r.keepPersonality ? "true" : "false")
      << ",\"result\":" << jsonString(entry.outcome.text)
      << ",\"style\":" << jsonString(outcomeStyleName(entry.outcome))
      << ",\"errors\":" << jsonString(r.errorLines)
      << ",\"personality_backup\":" << jsonString(r.backupFile.string());
  if (!r.cable.empty()) {
    out << ",\"cable\":" << jsonString(r.cable);
  }
  out << "}";
  return out.str();
}

bool appendHistory(const std::filesystem::path& path, const HistoryEntry& entry,
                   std::string& reason) {
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  const std::string line = historyLine(entry) + "\n";
  // One write of the whole line with O_APPEND, under a lock on the file, so that lines of
  // runs in several processes (the update station's) never interleave.
  const int fd = openPrivateFile(path, O_WRONLY | O_APPEND);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  struct stat before {};
  const bool sized = ::fstat(fd, &before) == 0;
  int error = sized ? 0 : errno;
  {
    const FileSizeSignalBlock sizeSignal;
    std::size_t done = 0;
    while (error == 0 && done < line.size()) {
      const ssize_t written = ::write(fd, line.data() + done, line.size() - done);
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written <= 0) {
        error = written < 0 ? errno : EIO;
        break;
      }
      done += static_cast<std::size_t>(written);
    }
    // A part of the line (a full disk takes what fits) would glue the next run's line to it
    // and lose both: back to the old end, still under the lock.
    if (error != 0 && done > 0 && sized) {
      while (::ftruncate(fd, before.st_size) != 0 && errno == EINTR) {
      }
    }
  }
  if (::close(fd) != 0 && error == 0) {  // and with it the lock
    error = errno;
  }
  if (error != 0) {
    reason = std::strerror(error);
    return false;
  }
  return true;
}

bool appendHistory(const std::filesystem::path& path, const HistoryEntry& entry) {
  std::string ignored;
  return appendHistory(path, entry, ignored);
}

std::function<void(const UpdateRecord&, const ActionOutcome&)> historyWriter(
    std::filesystem::path path, std::ostream& err) {
  return [path = std::move(path), &err](const UpdateRecord& record, const ActionOutcome& outcome) {
    HistoryEntry entry{record, outcome,
                       std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now() - record.started)};
    std::string reason;
    if (!appendHistory(path, entry, reason)) {
      err << "Cannot append to " << printableText(path.string()) << " (" << reason
          << "): this run is not in the update history. Free space on its disk or make the "
             "file writable for the next runs.\n";
    }
  };
}

std::optional<std::map<std::string, std::string>> parseFlatJson(std::string_view line) {
  return FlatJsonReader(line).object();
}

std::vector<std::map<std::string, std::string>> readHistory(const std::filesystem::path& path) {
  std::vector<std::map<std::string, std::string>> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (auto row = parseFlatJson(line)) {
      rows.push_back(std::move(*row));
    }
  }
  return rows;
}

std::vector<std::string> readHistoryLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    FlatJsonReader reader(line);
    if (reader.object() && reader.wholeJson()) {
      // A line written by hand or by an older tool may hold bytes that are not UTF-8; they
      // can only be inside its texts, so writing them as jsonString does keeps it JSON.
      std::string valid;
      for (std::size_t pos = 0; pos < line.size();) {
        const std::size_t length = utf8CharLength(line, pos);
        if (length == 0) {
          valid += formatText("\\u%04x", static_cast<unsigned char>(line[pos]));
          ++pos;
        } else {
          valid.append(line, pos, length);
          pos += length;
        }
      }
      lines.push_back(std::move(valid));
    }
  }
  return lines;
}

void printHistory(std::ostream& out, const std::vector<std::map<std::string, std::string>>& rows) {
  struct Column {
    const char* title;
    const char* key;
  };
  const Column columns[] = {
      {"Time", "time"},
      {"Kind", "kind"},
      {"Model", "model"},
      {"Serial", "serial_after"},
      {"Firmware", "firmware_after"},
      {"Codeplug", "codeplug_after"},
      {"Result", "result"},
  };
  // The first line of a field, with what it holds from radios and files made printable.
  const auto shown = [](const std::map<std::string, std::string>& row, const char* key) {
    const auto found = row.find(key);
    return found == row.end() ? std::string()
                              : printableText(found->second.substr(0, found->second.find('\n')));
  };
  std::vector<std::size_t> widths;
  for (const Column& c : columns) {
    std::size_t width = std::string_view(c.title).size();
    for (const auto& row : rows) {
      width = std::max(width, shown(row, c.key).size());
    }
    widths.push_back(width);
  }
  const auto cell = [&](std::size_t i, const std::string& text, bool last) {
    out << text;
    if (!last) {
      out << std::string(widths[i] - text.size() + 2, ' ');
    }
  };
  for (std::size_t i = 0; i < std::size(columns); ++i) {
    cell(i, columns[i].title, i + 1 == std::size(columns));
  }
  out << '\n';
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < std::size(columns); ++i) {
      cell(i, shown(row, columns[i].key), i + 1 == std::size(columns));
    }
    out << '\n';
  }
}

void printUnfinishedUpdates(std::ostream& out, const std::vector<UpdateJournal::Listed>& entries) {
  bool headed = false;
  for (const UpdateJournal::Listed& listed : entries) {
    if (!listed.entry || listed.entry->finished) {
      continue;
    }
    if (!headed) {
      out << "Unfinished updates (Update completes one when its radio is connected):\n";
      headed = true;
    }
    const JournalEntry& entry = *listed.entry;
    // A radio without a serial number is known by its Unit Private ID.
    const std::string radio =
        entry.serial.empty() ? "Unit Private ID " + entry.privateId : entry.serial;
    out << "  " << printableText(radio) << "  " << printableText(entry.model) << "  started "
        << printableText(entry.started) << ", stopped while " << printableText(entry.stage);
    if (entry.keepPersonality) {
      out << "; personality in " << printableText(entry.backupFile.string());
    }
    out << '\n';
  }
  for (const UpdateJournal::Listed& listed : entries) {
    if (!listed.entry) {
      out << "Damaged journal entry " << printableText(listed.path.string()) << ": "
          << printableText(listed.reason) << '\n';
    }
  }
}

}  // namespace orvik
