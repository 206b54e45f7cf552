// The status bar's parts, its progress values and how the progress is drawn.
#include <gtest/gtest.h>
#include <QImage>

#include <climits>

#include "ui/progress_status_bar.h"

namespace orvik {
namespace {

class ProgressStatusBarTest : public testing::Test {
 protected:
  void SetUp() override {
    bar.resize(600, 26);
    bar.show();
  }

  // What the progress part shows, pixel by pixel.
  struct Look {
    int barPixels = 0;
    int darkPixels = 0;
    int firstNonBarColumn = -1;
    int darkLeftOfEnd = 0;   // before the column barEnd
    int otherLeftOfEnd = 0;  // neither bar colour nor dark, before the column barEnd
  };
  Look look(int barEnd = 0) {
    const QImage image = bar.grab().toImage();
    const QRect area = bar.progressRect();
    const QRgb barColour = bar.barColour().rgb();
    Look seen;
    for (int x = area.left(); x <= area.right(); ++x) {
      bool wholeColumnIsBar = true;
      for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb pixel = image.pixel(x, y);
        const bool isBar = (pixel & 0xFFFFFF) == (barColour & 0xFFFFFF);
        const bool dark = qGray(pixel) < 100;
        seen.barPixels += isBar ? 1 : 0;
        wholeColumnIsBar = wholeColumnIsBar && isBar;
        seen.darkPixels += dark ? 1 : 0;
        if (x - area.left() < barEnd) {
          seen.darkLeftOfEnd += dark ? 1 : 0;
          seen.otherLeftOfEnd += !isBar && !dark ? 1 : 0;
        }
      }
      if (!wholeColumnIsBar && seen.firstNonBarColumn < 0) {
        seen.firstNonBarColumn = x - area.left();
      }
    }
    return seen;
  }

  CProgressStatusBar bar;
};

TEST_F(ProgressStatusBarTest, PartsEndAtThirtyAndSixtyPercent) {
  EXPECT_EQ(bar.partRect(0), QRect(0, 0, 180, 26));
  EXPECT_EQ(bar.partRect(1), QRect(180, 0, 180, 26));
  EXPECT_EQ(bar.partRect(2), QRect(360, 0, 240, 26));
  EXPECT_TRUE(bar.partRect(2).contains(bar.progressRect()));
  EXPECT_GT(bar.progressRect().left(), 360);
}

TEST_F(ProgressStatusBarTest, CableAndHelpTexts) {
  EXPECT_EQ(bar.cableText(), QStringLiteral("USB Cable Disconnected"));
  EXPECT_EQ(bar.helpText(), QStringLiteral("For help, press F1"));
  bar.setCableConnected(true);
  EXPECT_EQ(bar.cableText(), QStringLiteral("USB Cable Connected"));
  bar.setCableConnected(false);
  EXPECT_EQ(bar.cableText(), QStringLiteral("USB Cable Disconnected"));
  bar.setHelpText(QStringLiteral("Dealer login"));
  EXPECT_EQ(bar.helpText(), QStringLiteral("Dealer login"));
}

TEST_F(ProgressStatusBarTest, ProgressValues) {
  struct Step {
    unsigned value;
    unsigned total;
    bool changes;
    unsigned position;
  };
  const Step steps[] = {
      {50, 200, true, 25},                        // a quarter of the total
      {25, 0, false, 25},                         // the same percentage again: no redraw
      {120, 0, false, 25},                        // above the range
      {UINT_MAX, 1, false, 25},                   // beyond any percentage
      {100, 0, true, 100},      {3, 0, true, 3},  // the bar may go back, as a new step starts
      {0, 7, true, 0},                            // 0 clears it
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << step.value << " of " << step.total);
    EXPECT_EQ(bar.setProgress(step.value, step.total), step.changes);
    EXPECT_EQ(bar.position(), step.position);
  }
}

TEST_F(ProgressStatusBarTest, BarAndTwoColouredPercentage) {
  const int width = bar.progressRect().width();
  const int height = bar.progressRect().height();

  // 25 %: a quarter is bar; the text in the middle lies beside it, in the ordinary colour.
  bar.setProgress(25, 0);
  Look quarter = look();
  EXPECT_EQ(quarter.firstNonBarColumn, width / 4);
  EXPECT_EQ(quarter.barPixels, width / 4 * height);
  EXPECT_GT(quarter.darkPixels, 0);

  // 50 %: the bar ends inside the text; the text's part over the bar is drawn in the bar's
  // text colour, the part beside it in the ordinary colour.
  bar.setProgress(50, 0);
  Look half = look(width / 2);
  EXPECT_EQ(half.darkLeftOfEnd, 0);
  // Left of the end only bar and light text; beyond it no bar.
  EXPECT_EQ(half.barPixels + half.otherLeftOfEnd, width / 2 * height);
  EXPECT_GT(half.otherLeftOfEnd, 0);
  EXPECT_GT(half.darkPixels, 0);

  // 100 %: all bar, and the text over it entirely in the bar's text colour.
  bar.setProgress(100, 0);
  Look full = look();
  EXPECT_GT(full.barPixels, width * height / 2);
  EXPECT_EQ(full.darkPixels, 0);

  // 0: cleared, no text and no bar.
  bar.setProgress(0, 0);
  Look empty = look();
  EXPECT_EQ(empty.barPixels, 0);
  EXPECT_EQ(empty.darkPixels, 0);
}

}  // namespace
}  // namespace orvik
