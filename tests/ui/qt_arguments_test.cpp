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

TEST(QtArgumentsTest, TheStyleGivenIsFound) {
  using Args = std::vector<std::string>;
  const struct {
    Args arguments;
    std::optional<std::string> style;
  } cases[] = {
      {{}, std::nullopt},
      {{"-platform", "offscreen", "-reverse"}, std::nullopt},
      {{"-style", "Windows"}, "Windows"},
      {{"--style", "Windows"}, "Windows"},
      {{"-style=Windows"}, "Windows"},
      {{"--style=Windows", "-style", "Fusion"}, "Fusion"},
      {{"-title", "-style"}, std::nullopt},  // the title's value
      {{"-stylesheet", "a.qss"}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(styleArgument(c.arguments), c.style) << ::testing::PrintToString(c.arguments);
  }
}

}  // namespace
}  // namespace orvik
