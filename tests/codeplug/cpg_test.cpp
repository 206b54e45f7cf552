#include "codeplug/cpg.h"

#include <gtest/gtest.h>

#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using CpgTest = testing::ErrorTextTest;

struct Place {
  int block;
  std::uint32_t start;
  std::uint32_t size;
};

void expectPlaces(const Cpg& cpg, const std::vector<Place>& places) {
  for (const Place& p : places) {
    SCOPED_TRACE(kCpgBlocks[static_cast<std::size_t>(p.block)].name);
    EXPECT_EQ(cpg.block(p.block).startAddress, p.start);
    EXPECT_EQ(cpg.block(p.block).size, p.size);
  }
}

TEST_F(CpgTest, StartsWithTheDefaultBlocks) {
  Cpg cpg;
  expectPlaces(cpg, {{DYN, 0x820000, 0x1000},
                     {HW, 0x842000, 0x1000},
                     {CON, 0x830000, 0x2000},
                     {ERG, 0x840000, 0x1000},
                     {FAC, 0x841000, 0x1000},
                     {DEF, 0x84400, 0x10000},
                     {BAC, 0x843000, 0x1000},
                     {VOI, 0x854000, 0x6000},
                     {USERVOI, 0x86000, 0x6000}});
  for (int i = 0; i < kCpgBlockCount; ++i) {
    EXPECT_EQ(cpg.block(i).index, i);
    EXPECT_TRUE(cpg.block(i).data.empty());
  }
}

TEST_F(CpgTest, AddressMapGrammar) {
  struct Case {
    const char* label;
    std::string text;
    bool ok;
    std::vector<Place> places;
  };
  const std::vector<Case> cases = {
      {"usual map",
       "DYN_START\nADDRESS = 820000\nBSIZE = 1000\nDEF_BLK ADDRESS = 844000 BSIZE = 10000\n",
       true,
       {{DYN, 0x820000, 0x1000}, {DEF, 0x844000, 0x10000}}},
      {"key as a substring, any case; values without =",
       "xdyn_startx address 0x123456 Bsize 0X800",
       true,
       {{DYN, 0x123456, 0x800}}},
      {"0x prefix or not, the same address",
       "CONTACT_START ADDRESS = 0x830000",
       true,
       {{CON, 0x830000, 0x2000}}},
      {"ADDRESS=value without spaces is one unknown token",
       "DYN_START ADDRESS=123 BSIZE 10",
       true,
       {{DYN, 0x820000, 0x10}}},
      {"hex reading stops at the first non-digit",
       "ERGO_START ADDRESS 840ABCxyz",
       true,
       {{ERG, 0x840ABC, 0x1000}}},
      {"every key",
       "FACT_START ADDRESS 1 HW_START ADDRESS 2 BACKUP_FACT ADDRESS 3 "
       "RESERVED_BLOCK_1 ADDRESS 4 RESERVED_BLOCK_2 ADDRESS 5",
       true,
       {{FAC, 1, 0x1000},
        {HW, 2, 0x1000},
        {BAC, 3, 0x1000},
        {VOI, 4, 0x6000},
        {USERVOI, 5, 0x6000}}},
      {"first key in test order wins",
       "CONTACT_START_DYN_START ADDRESS 7",
       true,
       {{DYN, 7, 0x1000}, {CON, 0x830000, 0x2000}}},
      {"a value before any block key is not applied",
       "ADDRESS = 1234 BSIZE 1",
       true,
       {{DYN, 0x820000, 0x1000}, {DEF, 0x84400, 0x10000}}},
      {"ends right after ADDRESS", "DYN_START ADDRESS", true, {{DYN, 0x820000, 0x1000}}},
      {"malformed value stops the parse; earlier values stay",
       "DYN_START ADDRESS = 111 ADDRESS = Z1 ADDRESS = 222",
       false,
       {{DYN, 0x111, 0x1000}}},
      {"0x without digits is malformed", "DYN_START ADDRESS 0x", false, {{DYN, 0x820000, 0x1000}}},
      {"a value past 32 bits is malformed",
       "DYN_START ADDRESS 100000000",
       false,
       {{DYN, 0x820000, 0x1000}}},
      {"leading zeros are fine",
       "DYN_START ADDRESS 0000000000820001",
       true,
       {{DYN, 0x820001, 0x1000}}},
      // 49 characters make a token; the rest of the run is a token of its own.
      {"long run splits after 49 characters",
       std::string(49, 'Q') + "DEF_BLK ADDRESS 5",
       true,
       {{DEF, 5, 0x10000}}},
      {"a key split by the 49-character cut is not found",
       std::string(45, 'Q') + "DEF_BLK ADDRESS 5",
       true,
       {{DEF, 0x84400, 0x10000}}},
      {"empty text", "", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Cpg cpg;
    EXPECT_EQ(cpg.parseAddressMap(c.text), c.ok);
    expectPlaces(cpg, c.places);
  }
  EXPECT_TRUE(testing::errorLines().empty());
}

TEST_F(CpgTest, MapsOnlyEverShrinkBlocksAcrossParses) {
  Cpg cpg;
  ASSERT_TRUE(cpg.parseAddressMap("CONTACT_START BSIZE = 2000"));
  EXPECT_EQ(cpg.block(CON).size, 0x2000u);
  ASSERT_TRUE(cpg.parseAddressMap("CONTACT_START BSIZE 800"));
  EXPECT_EQ(cpg.block(CON).size, 0x800u);
  ASSERT_TRUE(cpg.parseAddressMap("CONTACT_START ADDRESS 900000 BSIZE = 1000"));
  EXPECT_EQ(cpg.block(CON).size, 0x800u);
  EXPECT_EQ(cpg.block(CON).startAddress, 0x900000u);
  // A buffer follows its block's size.
  cpg.clearBlocks();
  ASSERT_TRUE(cpg.parseAddressMap("CONTACT_START BSIZE 10"));
  EXPECT_EQ(cpg.block(CON).data.size(), 0x10u);
}

// "S1 05 1234 ABCD 3C": the worked example of the checksum.
constexpr const char* kExample = "S1051234ABCD3C";

TEST_F(CpgTest, StreamRecordsLandInTheirBlocks) {
  Cpg cpg;
  ASSERT_TRUE(cpg.parseAddressMap("DYN_START ADDRESS 1230 BSIZE 10 DEF_BLK ADDRESS 844000"));
  ASSERT_TRUE(cpg.parseCodeplugStream(std::string(kExample) +
                                      "\r\n s 2 0 6 8 4 4 0 0 1 7 7 8 8 3 5\n"  // spaced digits
                                      "S308008440020102032b\n"
                                      "S5030001FB\n"  // no address: lands at 0, in no block
                                      "S9030000FC\n"));
  const auto& dyn = cpg.block(DYN).data;
  ASSERT_EQ(dyn.size(), 0x10u);
  EXPECT_EQ(dyn[4], 0xAB);
  EXPECT_EQ(dyn[5], 0xCD);
  const auto& def = cpg.block(DEF).data;
  ASSERT_EQ(def.size(), 0x10000u);
  EXPECT_EQ(def[1], 0x77);
  EXPECT_EQ(def[2], 0x01);  // a later record overwrites an earlier one
  EXPECT_EQ(def[3], 0x02);
  EXPECT_EQ(def[4], 0x03);
  EXPECT_TRUE(testing::errorLines().empty());
}

TEST_F(CpgTest, StreamFailuresKeepEarlierRecords) {
  struct Case {
    const char* label;
    std::string record;
  };
  const std::vector<Case> cases = {
      {"wrong checksum", "S1051234ABCD3D"},
      {"not an S", "X1051234ABCD3C"},
      {"type is not a digit", "SX051234ABCD3C"},
      {"non-hex digit", "S1051234ABCG3C"},
      {"cut short", "S1051234ABCD"},
      {"S alone at the end", "S"},
      {"count without room for address and checksum", "S1021234"},
      {"S3 count of 4", "S30412345678"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    removeErrors(ErrorCategory::OK);
    Cpg cpg;
    ASSERT_TRUE(cpg.parseAddressMap("DYN_START ADDRESS 1230 BSIZE 10"));
    EXPECT_FALSE(cpg.parseCodeplugStream("S1051230ABCD40\n" + c.record));
    EXPECT_EQ(testing::errorLines(),
              std::vector<std::string>{"4:Error:failed to parse CPG stream."});
    EXPECT_EQ(cpg.block(DYN).data[0], 0xAB);
  }
}

TEST_F(CpgTest, PlaceRecordDropsWhatNoBlockHolds) {
  Cpg cpg;
  const std::vector<std::uint8_t> four = {1, 2, 3, 4};
  cpg.placeRecord(0x840FFE, four);  // ERG ends at 0x841000
  ASSERT_EQ(cpg.block(ERG).data.size(), 0x1000u);
  EXPECT_EQ(cpg.block(ERG).data[0xFFE], 1);
  EXPECT_EQ(cpg.block(ERG).data[0xFFF], 2);
  EXPECT_EQ(cpg.block(FAC).data.size(), 0u);  // the rest is dropped, not spilled
  cpg.placeRecord(0x10, four);
  for (int i = 0; i < kCpgBlockCount; ++i) {
    if (i != ERG) {
      EXPECT_TRUE(cpg.block(i).data.empty()) << i;
    }
  }
  // A block at the top of the address space: start + size would wrap 32 bits.
  ASSERT_TRUE(cpg.parseAddressMap("HW_START ADDRESS FFFFF800"));
  cpg.placeRecord(0xFFFFFFFE, four);
  EXPECT_EQ(cpg.block(HW).data[0x7FE], 1);
  EXPECT_EQ(cpg.block(HW).data[0x7FF], 2);
  cpg.placeRecord(0x100, four);  // below HW's start: no wrap-around match
  EXPECT_EQ(cpg.block(HW).data[0], 0);
}

TEST_F(CpgTest, EveryStreamStartsFromZeroedBlocks) {
  Cpg cpg;
  ASSERT_TRUE(cpg.parseAddressMap("DYN_START ADDRESS 1230 BSIZE 10"));
  ASSERT_TRUE(cpg.parseCodeplugStream(kExample));
  ASSERT_EQ(cpg.block(DYN).data[4], 0xAB);
  ASSERT_TRUE(cpg.parseCodeplugStream(std::string_view()));
  for (int i = 0; i < kCpgBlockCount; ++i) {
    const auto& data = cpg.block(i).data;
    EXPECT_EQ(data.size(), cpg.block(i).size);
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; }));
  }
}

}  // namespace
}  // namespace orvik
