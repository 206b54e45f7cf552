#include "ui/about_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/string_table.h"
#include "base/text.h"
#include "ui/artwork.h"
#include "ui/table_text.h"

namespace orvik {
namespace {

QLabel* wrappedLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent, const std::string& packageSigner)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  const std::string product =
      stringText(StringId::ProductName) + " " + stringText(StringId::UpdateTool);
  setWindowTitle(QString::fromStdString(
      formatText(stringText(StringId::AboutTitleFormat).c_str(), product.c_str())));
  setModal(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(24, 22, 24, 18);
  outer->setSpacing(16);
  auto* top = new QHBoxLayout();
  top->setSpacing(20);
  // The application's icon over the radio's picture.
  auto* pictures = new QVBoxLayout();
  pictures->setSpacing(12);
  auto* icon = new QLabel(this);
  icon->setPixmap(applicationIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  pictures->addWidget(icon);
  auto* radio = new QLabel(this);
  radio->setPixmap(radioPicture().scaledToHeight(110, Qt::SmoothTransformation));
  radio->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  pictures->addWidget(radio);
  pictures->addStretch(1);
  top->addLayout(pictures);

  auto* lines = new QVBoxLayout();
  lines->setSpacing(6);
  product_ = new QLabel(QString::fromStdString(product), this);
  QFont bold = product_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  product_->setFont(bold);
  lines->addWidget(product_);
  version_ = new QLabel(
      QString::fromStdString(formatText(stringText(StringId::VersionFormat).c_str(), kToolVersion)),
      this);
  lines->addWidget(version_);
  if (!packageSigner.empty()) {
    package_ = wrappedLabel(QString::fromStdString("Update package: " + packageSigner), this);
    package_->setFixedWidth(330);
    lines->addWidget(package_);
  }
  lines->addSpacing(8);
  lines->addWidget(wrappedLabel(tableText(StringId::Copyright), this));
  lines->addWidget(wrappedLabel(tableText(StringId::Trademark), this));
  lines->addSpacing(8);
  auto* notice = wrappedLabel(tableText(StringId::AboutNotice), this);
  notice->setFixedWidth(330);
  lines->addWidget(notice);
  top->addLayout(lines, 1);
  outer->addLayout(top);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  auto* ok = new QPushButton(tableText(StringId::OkButton), this);
  ok->setDefault(true);
  ok->setMinimumWidth(88);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(ok);
  outer->addLayout(buttons);
  outer->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDlg::productLine() const {
  return product_->text();
}

QString CAboutDlg::packageLine() const {
  return package_ != nullptr ? package_->text() : QString();
}

QString CAboutDlg::versionLine() const {
  return version_->text();
}

}  // namespace orvik
