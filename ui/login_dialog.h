#pragma once

#include <QColor>
#include <QDialog>
#include <QRect>
#include <QString>

class QLineEdit;
class QPushButton;

namespace orvik {

// The dealer's login: a masked entry for up to 15 digits and a hint line below it, which turns
// into a red warning after a wrong password until the entry is changed.
class CDialogPwd : public QDialog {
 public:
  static constexpr int kMaxLength = 15;
  // The hint line starts this far below the entry.
  static constexpr int kHintGap = 8;

  explicit CDialogPwd(QWidget* parent = nullptr);

  void setErrorFlag(bool error);
  bool errorFlag() const { return error_; }
  // The entry's text; set, it is shown selected.
  void setPassword(const QString& text);
  QString password() const;

  QLineEdit* edit() const { return edit_; }
  QPushButton* loginButton() const { return login_; }
  QString hintText() const;
  QColor hintColour() const;
  QRect hintRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLineEdit* edit_;
  QPushButton* login_;
  QPushButton* cancel_;
  bool error_ = false;
};

}  // namespace orvik
