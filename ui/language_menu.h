#pragma once

#include <span>
#include <string_view>

#include "app/string_id.h"

namespace orvik {

// The languages the window knows by name, each with its own menu command.
struct LanguageEntry {
  const char* code;
  int menuId;
  StringId textId;  // the menu text
};

inline constexpr int kFirstLanguageId = 32777;
inline constexpr int kLastLanguageId = 32789;
// The help file of a tool without a chosen language.
inline constexpr const char* kDefaultHelpLanguage = "en_us";

std::span<const LanguageEntry> languageTable();
// The entry of a code, compared without regard to letter case; none for another code.
const LanguageEntry* findLanguage(std::string_view code);
const LanguageEntry* findLanguageById(int menuId);

}  // namespace orvik
