#include "base/version_record.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

TEST(VersionRecordText, LetterAndThreeNumbers) {
  EXPECT_EQ(parseVersionRecord("R01.02.03"), (VersionRecord{'R', 1, 2, 3}));
  EXPECT_EQ(parseVersionRecord("r1.255.0"), (VersionRecord{'r', 1, 255, 0}));
  for (const char* bad :
       {"", "R01.02", "R01.02.03.04", "101.02.03", "R01.256.03", "R01..03", "R01.02.03x"}) {
    EXPECT_FALSE(parseVersionRecord(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace orvik
