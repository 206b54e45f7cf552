#include "ui/language_menu.h"

#include <array>

namespace orvik {
namespace {

constexpr auto kLanguages = std::to_array<LanguageEntry>({
    {"en_us", 32777, StringId::LanguageEnglish},
    {"de", 32778, StringId::LanguageGerman},
    {"fr", 32779, StringId::LanguageFrench},
    {"fr_ca", 32780, StringId::LanguageCanadianFrench},
    {"it", 32781, StringId::LanguageItalian},
    {"nl", 32782, StringId::LanguageDutch},
    {"pl", 32783, StringId::LanguagePolish},
    {"pt", 32784, StringId::LanguagePortuguese},
    {"pt_br", 32785, StringId::LanguageBrazilianPortuguese},
    {"ru", 32786, StringId::LanguageRussian},
    {"sp", 32787, StringId::LanguageSpanish},
    {"sp_la", 32788, StringId::LanguageLatinAmericanSpanish},
    {"tu", 32789, StringId::LanguageTurkish},
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
