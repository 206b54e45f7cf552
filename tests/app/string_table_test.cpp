// The texts other layers show by id.
#include "app/string_table.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

TEST(StringTable, TextsComeByIdWordForWord) {
  struct Case {
    int id;
    const char* text;
  };
  const Case cases[] = {
      {112,
       "A file needed for application could not be found or is corrupted. Please re-install the "
       "application.\nIf you continue to get this message, please contact Customer Service."},
      {126, "Orvik"},
      {134, "Update Tool"},
      {147, "Please wait..."},
      {9, "Please wait. Updating Keypad Firmware..."},
      {8, "Update Keypad Firmware Version Failed. "},
      {157, "Restore radio\u2019s personality"},
      {32796, "T\u00fcrk\u00e7e(&K)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(loadString(c.id), c.text);
    EXPECT_EQ(stringText(c.id), c.text);
  }
}

TEST(StringTable, AnIdNotInTheTableHasNoText) {
  for (const int id : {0, 3, 118, 1000, 99999, -1}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(loadString(id), std::nullopt);
    EXPECT_EQ(stringText(id), "");
  }
}

}  // namespace
}  // namespace orvik
