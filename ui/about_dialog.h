#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QLabel;

namespace orvik {

// The about box: product name, the tool's version, the legal lines and a notice.
class CAboutDlg : public QDialog {
 public:
  // The version of the tool as the about box shows it.
  static constexpr const char* kToolVersion = "R01.05";

  // packageSigner: who signed the update package in use, or "not signed"; no line when empty.
  explicit CAboutDlg(QWidget* parent = nullptr, const std::string& packageSigner = {});

  QString productLine() const;
  QString versionLine() const;
  QString packageLine() const;

 private:
  QLabel* product_;
  QLabel* version_;
  QLabel* package_ = nullptr;
};

}  // namespace orvik
