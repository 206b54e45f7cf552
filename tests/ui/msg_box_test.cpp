// The message box's geometry, buttons and answers for each style the tool uses.
#include <gtest/gtest.h>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include <optional>

#include "ui/msg_box.h"

namespace orvik {
namespace {

// The rows of the text area that hold dark (text) pixels.
std::optional<std::pair<int, int>> inkRows(const QImage& image, const QRect& area) {
  std::optional<std::pair<int, int>> rows;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (qGray(image.pixel(x, y)) < 128) {
        if (!rows) {
          rows = std::make_pair(y, y);
        }
        rows->second = y;
        break;
      }
    }
  }
  return rows;
}

struct StyleCase {
  const char* name;
  unsigned style;
  MessageIcon icon;
  std::vector<std::pair<int, QString>> buttons;  // in order, left to right
  int defaultId;
};

void PrintTo(const StyleCase& c, std::ostream* out) {
  *out << c.name;
}

class MsgBoxStyleTest : public testing::TestWithParam<StyleCase> {};

TEST_P(MsgBoxStyleTest, IconButtonsAndGeometry) {
  const StyleCase& c = GetParam();
  CMsgBox box(nullptr, QStringLiteral("The radio is ready."), QStringLiteral("Caption"), c.style);
  box.show();

  EXPECT_EQ(box.icon(), c.icon);
  EXPECT_EQ(box.windowTitle(), QStringLiteral("Caption"));
  EXPECT_EQ(box.defaultButtonId(), c.defaultId);
  EXPECT_TRUE(box.button(c.defaultId)->isDefault());

  // The client area: the text plus its margins, and 90 pixels beyond the text's height.
  const int iconWidth = c.icon == MessageIcon::None ? 0 : CMsgBox::kIconSize;
  EXPECT_EQ(box.textRect().left(), CMsgBox::kMargin + iconWidth + CMsgBox::kIconTextGap);
  EXPECT_EQ(box.textRect().top(), CMsgBox::kMargin);
  EXPECT_EQ(box.width(), box.textRect().right() + 1 + CMsgBox::kMargin);
  EXPECT_EQ(box.height(), box.textRect().height() + CMsgBox::kExtraHeight);
  EXPECT_EQ(box.bandRect(), QRect(0, box.height() - 50, box.width(), 50));

  // Buttons: right-aligned 20 pixels from the edge, 10 apart, centred in the band.
  int right = box.width() - CMsgBox::kMargin;
  for (auto it = c.buttons.rbegin(); it != c.buttons.rend(); ++it) {
    QPushButton* button = box.button(it->first);
    ASSERT_NE(button, nullptr) << it->first;
    EXPECT_TRUE(button->isVisible());
    EXPECT_EQ(button->text(), it->second);
    const QRect at = button->geometry();
    EXPECT_EQ(at.right() + 1, right);
    EXPECT_LE(std::abs(at.center().y() - box.bandRect().center().y()), 1);
    right = at.left() - CMsgBox::kButtonGap;
  }
  // No other button shows.
  int visible = 0;
  for (const QPushButton* button : box.findChildren<QPushButton*>()) {
    visible += button->isVisible() ? 1 : 0;
  }
  EXPECT_EQ(visible, static_cast<int>(c.buttons.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MsgBoxStyleTest,
    testing::Values(
        StyleCase{"Information", 0x40, MessageIcon::Asterisk, {{1, "&OK"}}, 1},
        StyleCase{"Warning", 0x30, MessageIcon::Exclamation, {{1, "&OK"}}, 1},
        StyleCase{"Error", 0x10, MessageIcon::Hand, {{1, "&OK"}}, 1},
        StyleCase{"Question", 0x24, MessageIcon::Question, {{6, "&Yes"}, {7, "&No"}}, 6},
        StyleCase{"OkCancel", 0x31, MessageIcon::Exclamation, {{1, "&OK"}, {2, "Cancel"}}, 1},
        StyleCase{"NoIcon", 0x00, MessageIcon::None, {{1, "&OK"}}, 1}),
    [](const testing::TestParamInfo<StyleCase>& info) { return std::string(info.param.name); });

TEST(MsgBoxTest, AShortQuestionIsStillWideEnoughForBothButtons) {
  CMsgBox box(nullptr, QStringLiteral("Go?"), QString(), 0x24);
  box.show();
  const QRect yes = box.button(6)->geometry();
  const QRect no = box.button(7)->geometry();
  EXPECT_GE(yes.left(), CMsgBox::kMargin);
  EXPECT_EQ(no.left() - yes.right() - 1, CMsgBox::kButtonGap);
  EXPECT_EQ(box.width() - no.right() - 1, CMsgBox::kMargin);
  EXPECT_FALSE(yes.intersects(no));
}

TEST(MsgBoxTest, OneLineIsCentredAgainstTheIconAndLongerTextStartsAtTheTop) {
  CMsgBox shortBox(nullptr, QStringLiteral("Update failed."), QString(), 0x10);
  shortBox.show();
  EXPECT_TRUE(shortBox.singleLine());
  const QImage shortImage = shortBox.grab().toImage();
  const auto shortInk = inkRows(shortImage, shortBox.textRect());
  ASSERT_TRUE(shortInk.has_value());
  const int middle = (shortInk->first + shortInk->second) / 2;
  EXPECT_LE(std::abs(middle - shortBox.textRect().center().y()), 3);

  const QString longText = QStringLiteral(
      "A file needed for application could not be found or is corrupted. Please re-install the "
      "application.\nIf you continue to get this message, please contact Customer Service.");
  CMsgBox longBox(nullptr, longText, QString(), 0x10);
  longBox.show();
  EXPECT_FALSE(longBox.singleLine());
  EXPECT_GT(longBox.textRect().height(), 2 * longBox.fontMetrics().height());
  EXPECT_LE(longBox.textRect().width(), CMsgBox::kTextWidth);
  const auto longInk = inkRows(longBox.grab().toImage(), longBox.textRect());
  ASSERT_TRUE(longInk.has_value());
  EXPECT_LE(longInk->first - longBox.textRect().top(), longBox.fontMetrics().height() / 2);
}

TEST(MsgBoxTest, TheAnswerIsTheButtonThatClosedTheBox) {
  struct Case {
    unsigned style;
    std::optional<int> click;  // a button to click, else Escape
    int answer;
  };
  const Case cases[] = {
      {0x24, 6, 6},
      {0x24, 7, 7},
      {0x24, std::nullopt, 7},
      {0x31, 2, 2},
      {0x31, std::nullopt, 2},
      {0x40, std::nullopt, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.style << " " << c.click.value_or(0));
    CMsgBox box(nullptr, QStringLiteral("Question?"), QString(), c.style);
    box.open();
    if (c.click) {
      QTest::mouseClick(box.button(*c.click), Qt::LeftButton);
    } else {
      QTest::keyClick(&box, Qt::Key_Escape);
    }
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), c.answer);
  }
  // Enter presses the button with the focus.
  CMsgBox box(nullptr, QStringLiteral("Question?"), QString(), 0x24);
  box.open();
  box.button(7)->setFocus();
  QTest::keyClick(box.button(7), Qt::Key_Return);
  EXPECT_EQ(box.result(), 7);
}

}  // namespace
}  // namespace orvik
