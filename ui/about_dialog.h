#pragma once

#include <QDialog>
#include <QString>

class QLabel;

namespace orvik {

// The about box: product name, the tool's version, the legal lines and a notice.
class CAboutDlg : public QDialog {
 public:
  // The version of the tool as the about box shows it.
  static constexpr const char* kToolVersion = "R01.05";

  explicit CAboutDlg(QWidget* parent = nullptr);

  QString productLine() const;
  QString versionLine() const;

 private:
  QLabel* product_;
  QLabel* version_;
};

}  // namespace orvik
