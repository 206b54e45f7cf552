// The texts other layers show by id.
#include "app/string_table.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

// The names carry the numbers other programs and translators know.
TEST(StringTable, TextsComeByIdWordForWord) {
  struct Case {
    StringId id;
    int number;
    const char* text;
  };
  const Case cases[] = {
      {StringId::FileMissing, 112,
       "A file needed for application could not be found or is corrupted. Please re-install the "
       "application.\nIf you continue to get this message, please contact Customer Service."},
      {StringId::ProductName, 126, "Orvik"},
      {StringId::UpdateTool, 134, "Update Tool"},
      {StringId::PleaseWait, 147, "Please wait..."},
      {StringId::KeypadUpdateWait, 9, "Please wait. Updating Keypad Firmware..."},
      {StringId::KeypadUpdateFailed, 8, "Update Keypad Firmware Version Failed. "},
      {StringId::KeepPersonalityBox, 157, "Restore radio\u2019s personality"},
      {StringId::UnitPrivateIdLabel, 1079, "Unit Private ID"},
      {StringId::LanguageTurkish, 32796, "T\u00fcrk\u00e7e(&K)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(static_cast<int>(c.id), c.number);
    EXPECT_EQ(loadString(c.id), c.text);
    EXPECT_EQ(stringText(c.id), c.text);
  }
}

TEST(StringTable, AnIdNotInTheTableHasNoText) {
  for (const int number : {0, 3, 118, 1000, 99999, -1}) {
    SCOPED_TRACE(number);
    const auto id = static_cast<StringId>(number);
    EXPECT_EQ(loadString(id), std::nullopt);
    EXPECT_EQ(stringText(id), "");
  }
}

}  // namespace
}  // namespace orvik
