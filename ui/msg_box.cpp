#include "ui/msg_box.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "ui/table_text.h"
#include "workflow/main_view.h"

namespace orvik {
namespace {

constexpr unsigned kKindOk = 0;
constexpr unsigned kKindYesNo = 4;
const QColor kBandColour(0xF0, 0xF0, 0xF0);
const QColor kBandLine(0xDF, 0xDF, 0xDF);

// Wide enough for its text, never narrower than the usual button.
int buttonWidth(const QPushButton& button) {
  QString label = button.text();
  label.remove(QLatin1Char('&'));
  return std::max(CMsgBox::kMinButtonWidth, button.fontMetrics().horizontalAdvance(label) + 32);
}

}  // namespace

CMsgBox::CMsgBox(QWidget* owner, const QString& text, const QString& caption, unsigned style)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      text_(text),
      style_(style),
      owner_(owner) {
  QString title = caption;
  if (title.isEmpty()) {
    title = QCoreApplication::applicationName();
  }
  if (title.isEmpty()) {
    title = QCoreApplication::applicationFilePath();
  }
  setWindowTitle(title);
  setModal(true);
  first_ = new QPushButton(this);
  second_ = new QPushButton(this);
  initialize();
}

MessageIcon CMsgBox::iconForStyle(unsigned style) {
  if ((style & 0x30) == 0x30) {
    return MessageIcon::Exclamation;
  }
  if ((style & 0x10) != 0) {
    return MessageIcon::Hand;
  }
  if ((style & 0x40) != 0) {
    return MessageIcon::Asterisk;
  }
  if ((style & 0x20) != 0) {
    return MessageIcon::Question;
  }
  return MessageIcon::None;
}

int CMsgBox::textFlags() const {
  return Qt::TextWordWrap | Qt::TextExpandTabs | Qt::AlignLeft;
}

void CMsgBox::initialize() {
  const QFontMetrics metrics(font());
  icon_ = iconForStyle(style_);
  const int iconSize = icon_ == MessageIcon::None ? 0 : kIconSize;
  iconPixmap_ = messageIcon(icon_, kIconSize);

  // The text is measured within the widest it may run; the rectangle then shrinks to it.
  const int textLeft = kMargin + iconSize + kIconTextGap;
  const QRect measured =
      metrics.boundingRect(QRect(textLeft, kMargin, kTextWidth, 100000), textFlags(), text_);
  const int textHeight = std::max(measured.height(), iconSize);
  singleLine_ = measured.height() <= metrics.lineSpacing();
  int textRight = textLeft + measured.width();

  const unsigned kind = buttonKind();
  const bool yesNo = kind == kKindYesNo;
  const bool twoButtons = kind != kKindOk;
  firstId_ = yesNo ? kAnswerYes : kAnswerOk;
  secondId_ = yesNo ? kAnswerNo : kAnswerCancel;
  defaultId_ = firstId_;
  first_->setText(tableText(yesNo ? StringId::YesButton : StringId::OkButton));
  second_->setText(tableText(yesNo ? StringId::NoButton : StringId::CancelButton));
  const int firstWidth = buttonWidth(*first_);
  const int secondWidth = buttonWidth(*second_);

  // The buttons must fit below the text, from the icon's left edge on.
  const int rowWidth = twoButtons ? firstWidth + kButtonGap + secondWidth : firstWidth;
  if (textRight - kMargin < rowWidth) {
    textRight = kMargin + rowWidth;
  }
  textRect_ = QRect(QPoint(textLeft, kMargin), QPoint(textRight - 1, kMargin + textHeight - 1));

  const int clientWidth = textRight + kMargin;
  const int clientHeight = textHeight + kExtraHeight;
  setFixedSize(clientWidth, clientHeight);

  const int buttonTop = clientHeight - kBandHeight + (kBandHeight - kButtonHeight) / 2;
  if (twoButtons) {
    const int secondLeft = clientWidth - kMargin - secondWidth;
    second_->setGeometry(secondLeft, buttonTop, secondWidth, kButtonHeight);
    first_->setGeometry(secondLeft - kButtonGap - firstWidth, buttonTop, firstWidth, kButtonHeight);
    second_->show();
  } else {
    first_->setGeometry(clientWidth - kMargin - firstWidth, buttonTop, firstWidth, kButtonHeight);
    second_->hide();
  }

  const int firstId = firstId_;
  const int secondId = secondId_;
  connect(first_, &QPushButton::clicked, this, [this, firstId] { done(firstId); });
  connect(second_, &QPushButton::clicked, this, [this, secondId] { done(secondId); });
  first_->setDefault(true);
  first_->setFocus();
}

QRect CMsgBox::bandRect() const {
  return QRect(0, height() - kBandHeight, width(), kBandHeight);
}

QPushButton* CMsgBox::button(int id) const {
  if (id == firstId_) {
    return first_;
  }
  if (id == secondId_ && buttonKind() != kKindOk) {
    return second_;
  }
  return nullptr;
}

void CMsgBox::reject() {
  switch (buttonKind()) {
    case kKindOk:
      done(firstId_);
      break;
    default:
      done(secondId_);
      break;
  }
}

void CMsgBox::showEvent(QShowEvent* event) {
  QRect area;
  if (owner_ != nullptr && owner_->isVisible()) {
    area = owner_->window()->frameGeometry();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isValid()) {
    move(area.center() - rect().center());
  }
  QDialog::showEvent(event);
}

void CMsgBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  const QRect band = bandRect();
  painter.fillRect(band, kBandColour);
  painter.setPen(kBandLine);
  painter.drawLine(band.topLeft(), band.topRight());
  if (icon_ != MessageIcon::None) {
    painter.drawPixmap(iconPosition(), iconPixmap_);
  }
  painter.setPen(palette().color(QPalette::WindowText));
  painter.setFont(font());
  if (singleLine_) {
    painter.drawText(textRect_, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextExpandTabs, text_);
  } else {
    painter.drawText(textRect_, textFlags() | Qt::AlignTop, text_);
  }
}

}  // namespace orvik
