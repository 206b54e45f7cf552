#include "config/backup_rule.h"

#include <gtest/gtest.h>

#include <climits>

namespace orvik {
namespace {

TEST(BackupRule, VersionListsKeepTheLowEightBitsOfEachItem) {
  struct Case {
    const char* text;
    std::set<std::uint8_t> expected;
  };
  for (const Case& c : std::vector<Case>{{"", {}},
                                         {"3^4^7", {3, 4, 7}},
                                         {"1^2^300", {1, 2, 44}},
                                         {" 5^+6^-1", {5, 6, 255}},
                                         {"7abc^x", {7, 0}},
                                         {"1^^2^", {1, 2}},
                                         {"99999999999", {255}}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseVersionSet(c.text), c.expected);
  }
}

TEST(BackupRule, AddressesAreHexadecimalAndStopAtTheSigned32BitLimits) {
  struct Case {
    const char* text;
    std::int32_t expected;
  };
  for (const Case& c : std::vector<Case>{{"", 0},
                                         {"820000", 0x820000},
                                         {"0x1000", 0x1000},
                                         {" 0XfF", 0xFF},
                                         {"7FFFFFFF", INT32_MAX},
                                         {"80000000", INT32_MAX},
                                         {"FFFFFFFFFF", INT32_MAX},
                                         {"-10", -16},
                                         {"-FFFFFFFFF", INT32_MIN},
                                         {"12g4", 0x12},
                                         {"0x", 0},
                                         {"zz", 0}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseHexNumber(c.text), c.expected);
  }
}

TEST(BackupRule, OnlyDynAndConInAnyCaseAreBlockTypes) {
  EXPECT_EQ(backupBlockType("DYN"), kBackupTypeDyn);
  EXPECT_EQ(backupBlockType("dyn"), kBackupTypeDyn);
  EXPECT_EQ(backupBlockType("Con"), kBackupTypeCon);
  EXPECT_EQ(backupBlockType("HW"), -1);
  EXPECT_EQ(backupBlockType("DYN "), -1);
}

}  // namespace
}  // namespace orvik
