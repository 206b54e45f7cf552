#include "errors/error_text.h"

#include <algorithm>
#include <cstdarg>
#include <mutex>

namespace orvik {
namespace {

struct ErrorList {
  std::mutex mutex;
  std::vector<ErrorEntry> entries;
};

ErrorList& errorList() {
  static ErrorList list;
  return list;
}

}  // namespace

bool appendError(ErrorCategory category, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = truncateUtf8(formatTextV(format, args), kMaxErrorTextLength);
  va_end(args);
  ErrorList& list = errorList();
  std::lock_guard lock(list.mutex);
  list.entries.push_back(ErrorEntry{category, std::move(text)});
  return true;
}

std::string firstErrorText() {
  ErrorList& list = errorList();
  std::lock_guard lock(list.mutex);
  return list.entries.empty() ? std::string("OK") : list.entries.front().text;
}

ErrorCategory firstErrorCategory() {
  ErrorList& list = errorList();
  std::lock_guard lock(list.mutex);
  return list.entries.empty() ? ErrorCategory::OK : list.entries.front().category;
}

void removeErrors(ErrorCategory category) {
  ErrorList& list = errorList();
  std::lock_guard lock(list.mutex);
  if (category == ErrorCategory::OK) {
    list.entries.clear();
    return;
  }
  std::erase_if(list.entries, [category](const ErrorEntry& e) { return e.category == category; });
}

std::string joinedErrorText() {
  ErrorList& list = errorList();
  std::lock_guard lock(list.mutex);
  if (list.entries.empty()) {
    return "OK";
  }
  std::string out;
  for (auto it = list.entries.rbegin(); it != list.entries.rend(); ++it) {
    out += it->text;
    out += '\n';
  }
  return out;
}

std::vector<ErrorEntry> errorEntries() {
  ErrorList& list = errorList();
  std::lock_guard lock(list.mutex);
  return list.entries;
}

}  // namespace orvik
