// Version texts and the dealer's serial-number rule.
#include <gtest/gtest.h>

#include "workflow/versions.h"

namespace orvik {
namespace {

TEST(Versions, ParseAndCompare) {
  struct Case {
    const char* text;
    std::optional<VersionTriple> triple;
  };
  const Case cases[] = {
      {"R01.02.03", VersionTriple{1, 2, 3}},
      {"r10.00.99", VersionTriple{10, 0, 99}},
      {"R01.02.3", VersionTriple{1, 2, 3}},  // a short last field from a hand-written file
      {"R1.02.03", std::nullopt},
      {"R01.2.03", std::nullopt},
      {"R01-02.03", std::nullopt},
      {"R01.02.03x", std::nullopt},
      {"R01.02.", std::nullopt},
      {"101.02.03", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseVersion(c.text), c.triple) << c.text;
  }
  EXPECT_EQ(compareVersions({2, 0, 0}, {1, 5, 0}), 1);
  EXPECT_EQ(compareVersions({1, 0, 0}, {1, 5, 0}), -1);
  EXPECT_EQ(compareVersions({1, 5, 1}, {1, 5, 1}), 0);
}

TEST(Versions, SerialNumberRule) {
  struct Case {
    const char* text;
    int length;
    bool allowed;
  };
  const Case cases[] = {
      {"123ABCD5678", 11, true},      {"123ABIC5678", 11, false},  // sixth may not be I
      {"123ABCO5678", 11, false},                                  // nor seventh O
      {"123ABCDI678", 11, true},                                   // eighth may be any letter
      {"123ABCD56I8", 11, false},     {"123OBCD5678", 11, false},  // fourth may not be O
      {"12XABCD5678", 11, false},     {"123ABCD567", 11, false},   // too short for the rule
      {"123ABCD5678EXTRA", 11, true}, {"1234BC5678", 10, true},
      {"1234IC5678", 10, false},      {"1234BCI678", 10, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(serialNumberAllowed(c.text, c.length), c.allowed) << c.text;
  }
}

}  // namespace
}  // namespace orvik
