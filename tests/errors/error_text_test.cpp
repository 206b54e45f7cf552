#include "errors/error_text.h"

#include <gtest/gtest.h>

#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using ErrorText = testing::ErrorTextTest;

TEST_F(ErrorText, EmptyListReadsAsOk) {
  EXPECT_EQ(firstErrorText(), "OK");
  EXPECT_EQ(joinedErrorText(), "OK");
  EXPECT_EQ(firstErrorCategory(), ErrorCategory::OK);
}

TEST_F(ErrorText, JoinsNewestFirstAndRemovesByCategory) {
  appendError(ErrorCategory::PROT, "first [%d]", 1);
  appendError(ErrorCategory::TOVR, "second");
  appendError(ErrorCategory::PROT, "third");
  EXPECT_EQ(firstErrorText(), "first [1]");
  EXPECT_EQ(firstErrorCategory(), ErrorCategory::PROT);
  EXPECT_EQ(joinedErrorText(), "third\nsecond\nfirst [1]\n");

  removeErrors(ErrorCategory::PROT);
  EXPECT_EQ(testing::errorLines(), std::vector<std::string>{"2:second"});
  removeErrors(ErrorCategory::OK);
  EXPECT_EQ(firstErrorText(), "OK");
}

TEST_F(ErrorText, LongLinesAreCutToTheirFirst255Characters) {
  const std::string ascii(300, 'x');
  appendError(ErrorCategory::FILE, "%s", ascii.c_str());
  // A multibyte character is never split: 300 copies of U+00E9 keep 255 whole characters.
  std::string accented;
  for (int i = 0; i < 300; ++i) {
    accented += "\xC3\xA9";
  }
  appendError(ErrorCategory::FILE, "%s", accented.c_str());
  const auto entries = errorEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].text, std::string(255, 'x'));
  EXPECT_EQ(entries[1].text.size(), 255u * 2);
}

}  // namespace
}  // namespace orvik
