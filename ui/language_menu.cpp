#include "ui/language_menu.h"

#include <array>

namespace orvik {
namespace {

constexpr auto kLanguages = std::to_array<LanguageEntry>({
    {"en_us", 32777, 32788},
    {"de", 32778, 32789},
    {"fr", 32779, 32790},
    {"fr_ca", 32780, 141},
    {"it", 32781, 32791},
    {"nl", 32782, 139},
    {"pl", 32783, 32792},
    {"pt", 32784, 32793},
    {"pt_br", 32785, 142},
    {"ru", 32786, 32794},
    {"sp", 32787, 32795},
    {"sp_la", 32788, 140},
    {"tu", 32789, 32796},
});

// Codes are plain ASCII, so only ASCII letters fold.
bool sameCode(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::span<const LanguageEntry> languageTable() {
  return kLanguages;
}

const LanguageEntry* findLanguage(std::string_view code) {
  for (const LanguageEntry& entry : kLanguages) {
    if (sameCode(entry.code, code)) {
      return &entry;
    }
  }
  return nullptr;
}

const LanguageEntry* findLanguageById(int menuId) {
  for (const LanguageEntry& entry : kLanguages) {
    if (entry.menuId == menuId) {
      return &entry;
    }
  }
  return nullptr;
}

}  // namespace orvik
