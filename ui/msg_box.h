#pragma once

#include <QDialog>
#include <QPixmap>
#include <QRect>
#include <QString>

#include "ui/artwork.h"
#include "workflow/main_view.h"

class QPushButton;

namespace orvik {

// The tool's own message box: a white area with the icon and the word-wrapped text, and a
// light-grey band at the bottom with one or two buttons whose texts come from the string
// table. Only the button kind (low four bits: 0 OK, 1 OK and Cancel, 4 Yes and No) and the
// icon bits of the style are used. exec() returns the id of the button that closed it.
class CMsgBox : public QDialog {
 public:
  // Where things go, in pixels of the client area.
  static constexpr int kMargin = 20;       // icon position, right margin of the buttons
  static constexpr int kIconTextGap = 10;  // between the icon and the text
  static constexpr int kTextWidth = 400;   // the widest the text may run
  static constexpr int kBandHeight = 50;   // the button band at the bottom
  static constexpr int kButtonGap = 10;    // between two buttons
  static constexpr int kExtraHeight = 90;  // client height beyond the text
  static constexpr int kIconSize = 32;
  static constexpr int kButtonHeight = 26;
  static constexpr int kMinButtonWidth = 82;
  static constexpr unsigned kDefaultStyle = 0x30;

  // The owner is the window the box is centred on (none: the screen). An empty caption
  // stands for the application's name, or the program's path when it has none.
  CMsgBox(QWidget* owner, const QString& text, const QString& caption, unsigned style);

  unsigned buttonKind() const { return style_ & 0x0F; }
  MessageIcon icon() const { return icon_; }
  const QString& text() const { return text_; }
  QRect textRect() const { return textRect_; }
  QRect bandRect() const;
  QPoint iconPosition() const { return {kMargin, kMargin}; }
  // True when the text fits on one line and is drawn centred against the icon.
  bool singleLine() const { return singleLine_; }
  // The button with the id (1 OK, 2 Cancel, 6 Yes, 7 No), or none.
  QPushButton* button(int id) const;
  int defaultButtonId() const { return defaultId_; }
  // Closes the box as if the button had been pressed.
  void press(int id) { done(id); }

  // Which icon the style asks for.
  static MessageIcon iconForStyle(unsigned style);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Escape and the window's close button give the answer of the "no" button.
  void reject() override;

 private:
  void initialize();
  int textFlags() const;

  QString text_;
  unsigned style_;
  MessageIcon icon_ = MessageIcon::None;
  QPixmap iconPixmap_;
  QRect textRect_;
  bool singleLine_ = false;
  QWidget* owner_;
  QPushButton* first_ = nullptr;
  QPushButton* second_ = nullptr;
  int firstId_ = kAnswerOk;
  int secondId_ = kAnswerCancel;
  int defaultId_ = 1;
};

}  // namespace orvik
