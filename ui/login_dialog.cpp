#include "ui/login_dialog.h"

#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "ui/table_text.h"

namespace orvik {
namespace {

constexpr int kWidth = 360;
constexpr int kHeight = 142;
constexpr int kMargin = 20;
const QColor kErrorColour(255, 0, 0);

}  // namespace

CDialogPwd::CDialogPwd(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(tableText(StringId::LoginButton));
  setModal(true);
  setFixedSize(kWidth, kHeight);

  edit_ = new QLineEdit(this);
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMaxLength(kMaxLength);
  edit_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit_));
  edit_->setGeometry(kMargin, kMargin + 4, kWidth - 2 * kMargin, 28);

  login_ = new QPushButton(tableText(StringId::LoginButton), this);
  cancel_ = new QPushButton(tableText(StringId::CancelButton), this);
  constexpr int kButtonWidth = 88;
  constexpr int kButtonHeight = 28;
  const int buttonTop = kHeight - kMargin - kButtonHeight + 4;
  cancel_->setGeometry(kWidth - kMargin - kButtonWidth, buttonTop, kButtonWidth, kButtonHeight);
  login_->setGeometry(kWidth - kMargin - 2 * kButtonWidth - 10, buttonTop, kButtonWidth,
                      kButtonHeight);
  login_->setDefault(true);
  login_->setAutoDefault(true);
  cancel_->setAutoDefault(false);

  connect(login_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  // Typing clears the warning.
  connect(edit_, &QLineEdit::textEdited, this, [this] {
    if (error_) {
      error_ = false;
      update();
    }
  });
  edit_->setFocus();
}

void CDialogPwd::setErrorFlag(bool error) {
  error_ = error;
  update();
}

void CDialogPwd::setPassword(const QString& text) {
  edit_->setText(text);
  edit_->selectAll();
  edit_->setFocus();
}

QString CDialogPwd::password() const {
  return edit_->text();
}

QString CDialogPwd::hintText() const {
  return tableText(error_ ? StringId::PasswordIncorrect : StringId::PasswordFormat);
}

QColor CDialogPwd::hintColour() const {
  return error_ ? kErrorColour : palette().color(QPalette::WindowText);
}

QRect CDialogPwd::hintRect() const {
  const QRect entry = edit_->geometry();
  return QRect(entry.left(), entry.bottom() + 1 + kHintGap, width() - entry.left() - kMargin,
               fontMetrics().height());
}

void CDialogPwd::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter painter(this);
  painter.setPen(hintColour());
  painter.setFont(font());
  painter.drawText(hintRect(), Qt::AlignLeft | Qt::AlignTop, hintText());
}

}  // namespace orvik
