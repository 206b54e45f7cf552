#include <gtest/gtest.h>

#include "exec/radio_info.h"

namespace orvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RadioInfoText, ModelText) {
  EXPECT_EQ(RadioInfo::modelText(Bytes{1, 2, 0x41, 0x2D, 'B', 'C', 'D', 'E', 'F', 'G', 'H'}),
            "12A");
  EXPECT_EQ(RadioInfo::modelText(Bytes{'L', 'A', 2, 6, 'C', 'K', 'N', 9, 'A', 'R', 1}),
            "LA26CKN9AR1");
  EXPECT_EQ(RadioInfo::modelText(Bytes{15, 0, 'z', 0x10, 'a', 'a', 'a', 'a', 'a', 'a', 'a'}),
            "?0z");
  EXPECT_EQ(RadioInfo::modelText(Bytes(10, 'A')), std::nullopt);
}

TEST(RadioInfoText, VersionSerialRegionAndPrivateId) {
  EXPECT_EQ(RadioInfo::versionRecordText(Bytes{0x72, 1, 2, 3}), "R01.02.03");
  EXPECT_EQ(RadioInfo::versionRecordText(Bytes{'D', 10, 0, 99}), "D10.00.99");
  EXPECT_EQ(RadioInfo::versionRecordText(Bytes{'R', 1, 2}), std::nullopt);

  EXPECT_EQ(RadioInfo::serialText(Bytes{'1', '2', 'A', 0, 0}), "12A");
  EXPECT_EQ(RadioInfo::serialText(Bytes(12, '1')), std::nullopt);
  EXPECT_EQ(RadioInfo::serialText(Bytes{0xE9}), "\xC3\xA9");

  EXPECT_EQ(RadioInfo::regionText(0), "00");
  EXPECT_EQ(RadioInfo::regionText(1), "01");

  EXPECT_EQ(RadioInfo::privateIdText(Bytes(12, 0)), std::nullopt);
  EXPECT_EQ(RadioInfo::privateIdText(Bytes{0, 0, 0, 0, 0, 0, 1, 0, 9, 9, 9, 9}), "256");
}

}  // namespace
}  // namespace orvik
