// An entry file of the update journal, one "key=value" line per field, after a first line that
// names the format, and a last line with the MD5 of everything before it:
//
//   ORVIK UPDATE JOURNAL 2
//   serial=1234ABC5678
//   ...
//   md5=<32 hex digits>
//
// Format 1 lacks the digests of the package files; such an entry is still read.
// Backslashes, line feeds and carriage returns in a value are written as \\, \n and \r.

#include "commands/update_journal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <map>
#include <span>
#include <system_error>

#include "base/file_replace.h"
#include "base/text.h"
#include "commands/personality_file.h"
#include "package/file_bytes.h"
#include "package/kxk_file.h"
#include "package/md5.h"

namespace orvik {
namespace {

constexpr std::string_view kFirstLine = "ORVIK UPDATE JOURNAL 2";
constexpr std::string_view kFirstLineV1 = "ORVIK UPDATE JOURNAL 1";
constexpr std::string_view kDigestKey = "md5=";
constexpr std::string_view kExtension = ".journal";
// An entry is a few hundred bytes; anything this large is not one.
constexpr std::size_t kMaxEntrySize = 64 * 1024;

std::string escaped(const std::string& value) {
  std::string out;
  for (const char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<std::string> unescaped(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      out += value[i];
      continue;
    }
    if (++i == value.size()) {
      return std::nullopt;
    }
    switch (value[i]) {
      case '\\':
        out += '\\';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

std::string digestOf(std::string_view text) {
  return hexText(
      md5Digest(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
}

// The fields of an entry, each with its key, its text and how it is read back.
struct Field {
  const char* key;
  // Not in format 1.
  bool since2 = false;
  std::function<std::string(const JournalEntry&)> write;
  std::function<bool(JournalEntry&, const std::string&)> read;
};

template <typename Member>
Field textField(const char* key, Member member) {
  return {key, false, [member](const JournalEntry& e) { return std::string(e.*member); },
          [member](JournalEntry& e, const std::string& value) {
            e.*member = value;
            return true;
          }};
}

Field flagField(const char* key, bool JournalEntry::*member) {
  return {key, false,
          [member](const JournalEntry& e) { return std::string(e.*member ? "yes" : "no"); },
          [member](JournalEntry& e, const std::string& value) {
            if (value != "yes" && value != "no") {
              return false;
            }
            e.*member = value == "yes";
            return true;
          }};
}

Field pathField(const char* key, std::filesystem::path JournalEntry::*member) {
  return {key, false, [member](const JournalEntry& e) { return (e.*member).string(); },
          [member](JournalEntry& e, const std::string& value) {
            e.*member = value;
            return true;
          }};
}

// Empty, or 32 lower-case hex digits.
Field digestField(const char* key, std::string JournalEntry::*member) {
  Field field = textField(key, member);
  field.since2 = true;
  field.read = [member](JournalEntry& e, const std::string& value) {
    const bool hex = std::all_of(value.begin(), value.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
    if (!hex || (!value.empty() && value.size() != 32)) {
      return false;
    }
    e.*member = value;
    return true;
  };
  return field;
}

// Not in format 1.
Field optionalField(const char* key, std::string JournalEntry::*member) {
  Field field = textField(key, member);
  field.since2 = true;
  return field;
}

const std::vector<Field>& fields() {
  static const std::vector<Field> table = {
      textField("serial", &JournalEntry::serial),
      textField("model", &JournalEntry::model),
      optionalField("private_id", &JournalEntry::privateId),
      pathField("backup", &JournalEntry::backupFile),
      pathField("firmware_file", &JournalEntry::firmwareFile),
      pathField("codeplug_file", &JournalEntry::codeplugFile),
      pathField("address_map_file", &JournalEntry::addressMapFile),
      flagField("program_firmware", &JournalEntry::programFirmware),
      flagField("program_codeplug", &JournalEntry::programCodeplug),
      flagField("keep_personality", &JournalEntry::keepPersonality),
      textField("radio_firmware", &JournalEntry::radioFirmware),
      textField("radio_codeplug", &JournalEntry::radioCodeplug),
      textField("tool_firmware", &JournalEntry::toolFirmware),
      textField("tool_codeplug", &JournalEntry::toolCodeplug),
      textField("started", &JournalEntry::started),
      optionalField("package_sha256", &JournalEntry::packageSha256),
      textField("stage", &JournalEntry::stage),
      flagField("finished", &JournalEntry::finished),
      digestField("firmware_md5", &JournalEntry::firmwareDigest),
      digestField("codeplug_md5", &JournalEntry::codeplugDigest),
      digestField("address_map_md5", &JournalEntry::addressMapDigest),
  };
  return table;
}

// The name older versions of the tool gave a radio's entry: every byte but letters, digits and
// '-' as '_', cut after 32. Several serial numbers shared one, so an entry found there counts
// only when it names this radio.
std::string legacyEntryName(const std::string& serial) {
  std::string name;
  for (const char c : serial.substr(0, 32)) {
    const bool plain =
        (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
    name += plain ? c : '_';
  }
  return name + std::string(kExtension);
}

std::optional<JournalEntry> readEntryFile(const std::filesystem::path& path, std::string& reason,
                                          bool& unreadable) {
  std::vector<std::uint8_t> bytes;
  unreadable = readWholeFile(path, bytes, kMaxEntrySize) != FileReadResult::Ok;
  if (unreadable) {
    reason = "it cannot be read";
    return std::nullopt;
  }
  return parseJournalText(std::string(bytes.begin(), bytes.end()), reason);
}

}  // namespace

std::filesystem::path journalFolder(const std::filesystem::path& dataDir) {
  return dataDir / "journal";
}

std::string journalText(const JournalEntry& entry) {
  std::string text(kFirstLine);
  text += '\n';
  for (const Field& field : fields()) {
    text += std::string(field.key) + "=" + escaped(field.write(entry)) + "\n";
  }
  text += std::string(kDigestKey) + digestOf(text) + "\n";
  return text;
}

std::optional<JournalEntry> parseJournalText(const std::string& text, std::string& reason) {
  // The digest line closes the file; everything before it is what the digest covers.
  const std::size_t digestAt = text.rfind(std::string("\n") + std::string(kDigestKey));
  const bool v1 = text.starts_with(std::string(kFirstLineV1) + "\n");
  if ((!v1 && !text.starts_with(std::string(kFirstLine) + "\n")) || digestAt == std::string::npos ||
      !text.ends_with("\n")) {
    reason = "it is not a journal entry, or it was cut off";
    return std::nullopt;
  }
  const std::string body = text.substr(0, digestAt + 1);
  const std::string digest = text.substr(digestAt + 1 + kDigestKey.size(),
                                         text.size() - (digestAt + 1 + kDigestKey.size()) - 1);
  if (digest != digestOf(body)) {
    reason = "its digest does not match its contents";
    return std::nullopt;
  }
  std::map<std::string, std::string> values;
  std::size_t start = kFirstLine.size() + 1;
  while (start < body.size()) {
    const std::size_t end = body.find('\n', start);
    const std::string line = body.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = line.find('=');
    const std::optional<std::string> value =
        equals == std::string::npos ? std::nullopt : unescaped(line.substr(equals + 1));
    if (!value || !values.emplace(line.substr(0, equals), *value).second) {
      reason = "a line of it cannot be read: " + line;
      return std::nullopt;
    }
  }
  JournalEntry entry;
  for (const Field& field : fields()) {
    if (v1 && field.since2) {
      continue;
    }
    const auto found = values.find(field.key);
    if (found == values.end() || !field.read(entry, found->second)) {
      reason = std::string("its field ") + field.key + " is missing or wrong";
      return std::nullopt;
    }
  }
  return entry;
}

std::optional<std::filesystem::path> UpdateJournal::entryPath(const std::string& serial,
                                                              const std::string& privateId) const {
  std::string name = fileNameFromRadioText(serial);
  const bool digits =
      !privateId.empty() && privateId.size() <= 20 &&
      std::all_of(privateId.begin(), privateId.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (name.empty() && digits) {
    // '~' first: no serial number's name begins with it.
    name = "~id" + privateId;
  }
  if (name.empty()) {
    return std::nullopt;
  }
  return folder_ / (name + std::string(kExtension));
}

bool UpdateJournal::write(const JournalEntry& entry, std::string& reason) const {
  const std::optional<std::filesystem::path> path = entryPath(entry.serial, entry.privateId);
  if (!path) {
    reason = "the radio has neither a serial number nor a Unit Private ID to name its entry";
    return false;
  }
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) {
    reason = "cannot create the folder " + folder_.string() + " (" + error.message() + ")";
    return false;
  }
  const std::string text = journalText(entry);
  errno = 0;
  // Never through a link: the entry is the tool's own file.
  if (!replaceFileContents(
          *path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
          FollowLink::No)) {
    const int code = errno;
    reason = "cannot write " + path->string();
    if (code != 0) {
      reason += " (" + std::generic_category().message(code) + ")";
    }
    return false;
  }
  // The entry under the older name is carried on under this one now.
  if (const std::optional<std::filesystem::path> legacy = legacyEntryPath(entry.serial)) {
    std::filesystem::remove(*legacy, error);
  }
  return true;
}

std::optional<std::filesystem::path> UpdateJournal::legacyEntryPath(
    const std::string& serial) const {
  const std::optional<std::filesystem::path> path = entryPath(serial);
  const std::filesystem::path legacy = folder_ / legacyEntryName(serial);
  std::error_code error;
  if (!path || legacy == *path || !std::filesystem::is_regular_file(legacy, error)) {
    return std::nullopt;
  }
  std::string reason;
  bool unreadable = false;
  const std::optional<JournalEntry> parsed = readEntryFile(legacy, reason, unreadable);
  if (!parsed || parsed->serial != serial) {
    return std::nullopt;
  }
  return legacy;
}

UpdateJournal::Found UpdateJournal::read(const std::string& serial, JournalEntry& entry,
                                         std::string& reason, const std::string& privateId) const {
  std::optional<std::filesystem::path> path = entryPath(serial, privateId);
  std::error_code error;
  if (path && !std::filesystem::exists(*path, error)) {
    path = legacyEntryPath(serial);
  }
  if (!path) {
    return Found::None;
  }
  bool unreadable = false;
  std::optional<JournalEntry> parsed = readEntryFile(*path, reason, unreadable);
  if (!parsed) {
    return Found::Damaged;
  }
  if (parsed->serial != serial || (serial.empty() && parsed->privateId != privateId)) {
    // Not this radio's: a file put there by hand, or a name of an older version of the tool
    // that several serial numbers shared. It may be the other radio's only record.
    reason = parsed->serial.empty() ? "Unit Private ID " + parsed->privateId : parsed->serial;
    return Found::OtherRadio;
  }
  entry = std::move(*parsed);
  return Found::Entry;
}

std::optional<std::string> fileDigest(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes;
  if (path.empty() || readWholeFile(path, bytes, kMaxKxkFileSize) != FileReadResult::Ok) {
    return std::nullopt;
  }
  return hexText(md5Digest(bytes));
}

std::vector<UpdateJournal::Listed> UpdateJournal::list() const {
  std::vector<Listed> listed;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder_, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().extension() != kExtension) {
      continue;
    }
    Listed item;
    item.path = it->path();
    bool unreadable = false;
    item.entry = readEntryFile(item.path, item.reason, unreadable);
    listed.push_back(std::move(item));
  }
  std::sort(listed.begin(), listed.end(),
            [](const Listed& a, const Listed& b) { return a.path < b.path; });
  return listed;
}

}  // namespace orvik
