#include "package/flash.h"
#include "package/flash_layout.h"

#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "base/text.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using FlashTest = testing::ErrorTextTest;

// magic, header value, table count t with t entries
ByteWriter imageStart(std::uint16_t tableCount = 0) {
  ByteWriter w;
  w.be16(0x09AA).be32(0x11223344).be16(tableCount);
  for (int i = 0; i < tableCount; ++i) {
    w.be32(0);
  }
  return w;
}

// A section with count word w and its body of (w + 2 rounded up to 4) words.
void section(ByteWriter& w, std::uint16_t count) {
  w.be16(count);
  for (std::uint32_t i = 0; i < sectionWords(count); ++i) {
    w.be16(0xA5A5);
  }
}

TEST_F(FlashTest, WalksTheImageLayout) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> data;
    bool ok;
    std::uint32_t end;
    std::uint16_t sections;
  };
  auto build = [](auto fill) {
    ByteWriter w = imageStart(2);  // 8 + 8 bytes before the sections
    fill(w);
    return w.take();
  };
  const std::vector<Case> cases = {
      {"magic only", {0x09, 0xAA}, true, 2, 0},
      {"one byte", {0x09}, false, 0, 0},
      {"wrong magic", {0x0A, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0, 0},
      {"table reaching the end", imageStart(1).take(), false, 0, 0},
      {"two sections then trailing bytes", build([](ByteWriter& w) {
         section(w, 1);  // 4 words
         section(w, 6);  // 8 words
         w.u8(0x77);
       }),
       true, 16 + 2 + 8 + 2 + 16, 2},
      {"last section ends exactly at the end: kept whole", build([](ByteWriter& w) {
         section(w, 1);
         section(w, 6);
       }),
       true, 16 + 2 + 8 + 2 + 16, 2},
      {"section running past the end: stops after its count word", build([](ByteWriter& w) {
         section(w, 1);
         w.be16(6).be16(0xFFFF);
       }),
       true, 16 + 2 + 8 + 2, 2},
      {"fillers do not count", build([](ByteWriter& w) {
         w.be16(0).be16(0);
         section(w, 2);
         w.be16(0);
         section(w, 2);
         w.be16(0);
       }),
       true, 16 + 4 + 10 + 2 + 10 + 2, 2},
      {"a lone byte after the last section is left out", build([](ByteWriter& w) {
         section(w, 2);
         w.u8(0);
       }),
       true, 16 + 10, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ImageLayout layout;
    EXPECT_EQ(walkImage(c.data, layout), c.ok);
    if (c.ok) {
      EXPECT_EQ(layout.endPosition, c.end);
      EXPECT_EQ(layout.sectionCount, c.sections);
    }
  }
  EXPECT_TRUE(testing::errorLines().empty());
}

TEST_F(FlashTest, RecordsSectionsAndStopsAtSixty) {
  ByteWriter w = imageStart();
  for (int i = 0; i < 61; ++i) {
    w.be16(0);  // fillers between sections count for nothing
    section(w, static_cast<std::uint16_t>(i + 1));
  }
  const std::vector<std::uint8_t> data = w.take();
  ImageLayout layout;
  ASSERT_TRUE(walkImage(data, layout));
  EXPECT_EQ(layout.magic, 0x09AA);
  EXPECT_EQ(layout.headerValue, 0x11223344u);
  EXPECT_EQ(layout.sectionCount, 60);
  EXPECT_EQ(layout.sectionStarts[0], 8u + 2 + 2);
  EXPECT_EQ(layout.sectionSizes[0], 4u);
  EXPECT_EQ(layout.sectionSizes[2], 8u);  // 3 + 2 rounded up
  // The 61st section is not part of the image: the end is just after the 60th.
  const std::uint32_t lastEnd = layout.sectionStarts[59] + 2 * layout.sectionSizes[59];
  EXPECT_EQ(layout.endPosition, lastEnd);
  EXPECT_LT(layout.endPosition, data.size());
}

TEST_F(FlashTest, LargestCountWordKeepsItsSize) {
  ByteWriter w = imageStart();
  section(w, 0xFFFF);
  ImageLayout layout;
  ASSERT_TRUE(walkImage(w.take(), layout));
  EXPECT_EQ(layout.sectionSizes[0], 65540u);
}

TEST_F(FlashTest, ImageEndingAbove2MiBIsBadFlash) {
  // Sections of 0x10000 words (0x20000 bytes): 15 of them plus a last one sized so the end
  // lands exactly on 0x200000, or one word pair further.
  for (const auto& [extraWords, ok] : {std::pair{0u, true}, std::pair{4u, false}}) {
    ByteWriter w = imageStart();
    std::size_t size = 8;
    for (int i = 0; i < 15; ++i) {
      section(w, 0xFFFE);
      size += 2 + 2 * sectionWords(0xFFFE);
    }
    const std::uint32_t lastWords =
        static_cast<std::uint32_t>((0x200000 - size - 2) / 2) + extraWords;
    section(w, static_cast<std::uint16_t>(lastWords - 2));
    const std::vector<std::uint8_t> data = w.take();
    removeErrors(ErrorCategory::OK);
    Flash flash;
    EXPECT_EQ(flash.loadImage(data), ok);
    if (ok) {
      EXPECT_EQ(flash.imageLength(), 0x200000u);
      EXPECT_TRUE(testing::errorLines().empty());
    } else {
      EXPECT_EQ(flash.imageLength(), 0u);
      EXPECT_EQ(testing::errorLines(), std::vector<std::string>{"5:Error:bad flash."});
    }
  }
}

TEST_F(FlashTest, LoadImageKeepsTheWalkedPart) {
  Flash flash;
  EXPECT_FALSE(flash.loadImage({}));
  const std::vector<std::uint8_t> two = {0x09, 0xAA};
  ASSERT_TRUE(flash.loadImage(two));
  EXPECT_EQ(std::vector<std::uint8_t>(flash.image().begin(), flash.image().end()), two);

  ByteWriter w = imageStart();
  section(w, 2);
  w.u8(0xEE);  // not part of the image
  const std::vector<std::uint8_t> data = w.take();
  ASSERT_TRUE(flash.loadImage(data));
  EXPECT_EQ(flash.imageLength(), data.size() - 1);
  EXPECT_TRUE(std::equal(flash.image().begin(), flash.image().end(), data.begin()));

  EXPECT_FALSE(flash.loadImage(std::vector<std::uint8_t>{0x12, 0x34}));
  EXPECT_EQ(flash.imageLength(), 0u);  // a refused image leaves nothing to program
}

// Programmed from 0x10000, an image must end within the seven erased 64 KiB units and before
// the flash layout's own blocks (layout 0 keeps its default block at 0x64000).
TEST_F(FlashTest, ImageEndsWithinTheErasedRegionAndBeforeTheLayoutsBlocks) {
  const struct {
    int layout;
    std::size_t longest;
  } cases[] = {{0, 0x54000}, {1, 0x70000}, {2, 0x70000}, {7, 0x70000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    removeErrors(ErrorCategory::OK);
    EXPECT_TRUE(checkFirmwareImageFits(c.longest, flashLayoutRow(c.layout)));
    EXPECT_TRUE(testing::errorLines().empty());
    EXPECT_FALSE(checkFirmwareImageFits(c.longest + 1, flashLayoutRow(c.layout)));
    EXPECT_EQ(testing::errorLines(), std::vector<std::string>{formatText(
                                         "5:Error:the firmware image ends at [%zu], past [%zu].",
                                         0x10000 + c.longest + 1, 0x10000 + c.longest)});
  }
}

}  // namespace
}  // namespace orvik
