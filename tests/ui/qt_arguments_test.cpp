// The leftovers of the command line that are passed on to Qt.
#include "ui/qt_arguments.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

TEST(QtArgumentsTest, OnlyQtsOwnOptionsPass) {
  using Args = std::vector<std::string>;
  const struct {
    Args arguments;
    std::optional<std::string> refused;
  } cases[] = {
      {{}, std::nullopt},
      {{"-platform", "offscreen", "--style=Fusion", "-reverse", "--display", ":1"}, std::nullopt},
      {{"--dat-dir", "/tmp/x"}, "--dat-dir"},  // a misspelt option of the tool
      {{"--simulte"}, "--simulte"},
      {{"-platform"}, "-platform"},    // its value is missing
      {{"-reverse=1"}, "-reverse=1"},  // a flag takes no value
      {{"stray"}, "stray"},
      {{"-style", "Fusion", "extra"}, "extra"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(firstNonQtArgument(c.arguments), c.refused) << ::testing::PrintToString(c.arguments);
  }
}

}  // namespace
}  // namespace orvik
