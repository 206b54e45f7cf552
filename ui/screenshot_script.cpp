#include "ui/screenshot_script.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QIcon>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "app/string_table.h"
#include "pack/demo_package.h"
#include "sim/fault_plan.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"
#include "ui/about_dialog.h"
#include "ui/artwork.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/msg_box.h"
#include "ui/wait_dialog.h"
#include "workflow/main_controller.h"

namespace orvik {
namespace {

constexpr int kTitleHeight = 30;
constexpr int kBorder = 1;
constexpr int kShadow = 14;
// The update picture is taken when the bar has passed this.
constexpr unsigned kUpdatePicturePercent = 40;
// A new serial number typed into the dealer's row.
constexpr const char* kTypedSerial = "1234ABC5679";

// A plain, light window frame: border, title bar with icon and title, and the title buttons.
void paintFrame(QPainter& p, const QRect& outer, const QString& title, const QIcon& icon,
                bool active, bool mainWindow) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(outer, active ? QColor(0x7a, 0x84, 0x90) : QColor(0xa8, 0xad, 0xb3));
  const QRect bar(outer.left() + kBorder, outer.top() + kBorder, outer.width() - 2 * kBorder,
                  kTitleHeight - kBorder);
  QLinearGradient shade(bar.topLeft(), bar.bottomLeft());
  shade.setColorAt(0, active ? QColor(0xfb, 0xfb, 0xfc) : QColor(0xf6, 0xf6, 0xf6));
  shade.setColorAt(1, active ? QColor(0xe3, 0xe6, 0xea) : QColor(0xee, 0xee, 0xee));
  p.fillRect(bar, shade);
  p.setPen(QColor(0xc8, 0xcc, 0xd1));
  p.drawLine(bar.bottomLeft(), bar.bottomRight());

  int textLeft = bar.left() + 10;
  if (!icon.isNull()) {
    icon.paint(&p, QRect(bar.left() + 8, bar.top() + (bar.height() - 18) / 2, 18, 18));
    textLeft += 24;
  }
  QFont font = QApplication::font();
  font.setBold(true);
  p.setFont(font);
  p.setPen(active ? QColor(0x20, 0x24, 0x2a) : QColor(0x80, 0x84, 0x8a));
  // The title runs up to the title buttons: two on the main window, one on a dialog.
  const int buttons = mainWindow ? 72 : 40;
  p.drawText(QRect(textLeft, bar.top(), bar.right() - buttons - textLeft, bar.height()),
             Qt::AlignLeft | Qt::AlignVCenter, title);

  // Title buttons: close, and for the main window minimise as well.
  p.setRenderHint(QPainter::Antialiasing, true);
  QPen glyph(active ? QColor(0x3a, 0x3f, 0x46) : QColor(0x9a, 0x9e, 0xa4), 1.4);
  p.setPen(glyph);
  const int cy = bar.center().y() + 1;
  int cx = bar.right() - 18;
  p.drawLine(QPointF(cx - 5, cy - 5), QPointF(cx + 5, cy + 5));
  p.drawLine(QPointF(cx + 5, cy - 5), QPointF(cx - 5, cy + 5));
  if (mainWindow) {
    cx -= 30;
    p.drawLine(QPointF(cx - 5, cy + 4), QPointF(cx + 5, cy + 4));
  }
  p.restore();
}

void paintShadow(QPainter& p, const QRect& area) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  for (int i = kShadow; i > 0; --i) {
    p.setBrush(QColor(0, 0, 0, 5));
    p.drawRoundedRect(QRectF(area).adjusted(-i + 2, -i + 5, i - 2, i + 2), i, i);
  }
  p.restore();
}

}  // namespace

QImage framedPicture(QWidget& window, QWidget* dialog) {
  const QPixmap client = window.grab();
  const QSize size(client.width() + 2 * kBorder, client.height() + kTitleHeight + kBorder);
  QImage picture(size, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::white);
  QPainter p(&picture);
  paintFrame(p, QRect(QPoint(0, 0), size), window.windowTitle(), window.windowIcon(),
             dialog == nullptr, true);
  p.drawPixmap(kBorder, kTitleHeight, client);

  if (dialog != nullptr) {
    const QPixmap inner = dialog->grab();
    const bool framed = !dialog->windowFlags().testFlag(Qt::FramelessWindowHint);
    const QSize outer =
        framed ? QSize(inner.width() + 2 * kBorder, inner.height() + kTitleHeight + kBorder)
               : inner.size();
    const QPoint at((size.width() - outer.width()) / 2,
                    kTitleHeight + (client.height() - outer.height()) / 2);
    const QRect area(at, outer);
    paintShadow(p, area);
    if (framed) {
      paintFrame(p, area, dialog->windowTitle(), QIcon(), true, false);
      p.drawPixmap(at + QPoint(kBorder, kTitleHeight), inner);
    } else {
      p.drawPixmap(at, inner);
    }
  }
  return picture;
}

ScreenshotScript::ScreenshotScript(COstrelFlashToolDlg& window, MainController& controller,
                                   SimRadio& radio, SimCableDriver& cable, QString folder)
    : window_(window),
      controller_(controller),
      radio_(radio),
      cable_(cable),
      folder_(std::move(folder)) {}

void ScreenshotScript::pictureResult(const QString& name, const std::function<void()>& action) {
  resultPicture_ = name;
  action();
  QApplication::processEvents();
  if (!resultPicture_.isEmpty()) {
    failures_ << QStringLiteral("%1 (no result was shown)").arg(name);
    resultPicture_.clear();
  }
}

void ScreenshotScript::save(const QImage& picture, const QString& name) {
  const QString path = QDir(folder_).filePath(name);
  if (picture.save(path, "PNG")) {
    written_ << path;
  } else {
    failures_ << path;
  }
}

bool ScreenshotScript::run() {
  if (!QDir().mkpath(folder_)) {
    failures_ << folder_;
    return false;
  }
  const QString product = QString::fromStdString(stringText(StringId::ProductName));
  save(splashPicture(product, QString::fromStdString(stringText(StringId::UpdateTool)),
                     QString::fromStdString(stringText(StringId::VersionFormat))
                         .replace(QStringLiteral("%s"), QLatin1String(CAboutDlg::kToolVersion)),
                     QString::fromStdString(stringText(StringId::Copyright)))
           .toImage(),
       QStringLiteral("splash.png"));

  // Questions are answered Yes and messages OK; the first question is pictured on the way.
  window_.setMessageBoxRunner([this](CMsgBox& box) {
    const bool question = box.buttonKind() == 4;
    if (!messageBoxTaken_ && question) {
      box.show();
      QApplication::processEvents();
      save(framedPicture(window_, &box), QStringLiteral("message-box.png"));
      messageBoxTaken_ = true;
    } else if (!resultPicture_.isEmpty() && !question) {
      box.show();
      QApplication::processEvents();
      save(framedPicture(window_, &box), resultPicture_);
      resultPicture_.clear();
    }
    box.hide();
    return box.defaultButtonId();
  });
  window_.setPasswordRunner([](CDialogPwd& dialog) {
    dialog.setPassword(QString::fromLatin1(kDemoDealerPassword));
    return static_cast<int>(QDialog::Accepted);
  });
  window_.setProgressObserver([this](unsigned position) {
    WaitDialog* wait = window_.qtWaitView().activeDialog();
    if (!updateTaken_ && position >= kUpdatePicturePercent && wait != nullptr) {
      save(framedPicture(window_, wait), QStringLiteral("update.png"));
      updateTaken_ = true;
    }
  });

  const SimRadioConfig asItCame = radio_.config();
  window_.show();
  QApplication::processEvents();
  controller_.onCableCount(1);
  controller_.onGetRadioInfo();
  QApplication::processEvents();
  save(framedPicture(window_, nullptr), QStringLiteral("idle.png"));
  // Pictures of a run that went wrong would show the wrong thing: say which step failed.
  const auto check = [this](bool ok, const char* step) {
    if (!ok) {
      failures_ << QStringLiteral("%1 (%2)").arg(
          QLatin1String(step), QString::fromStdString(controller_.lastOutcome().text));
    }
  };
  check(controller_.lastOutcome().succeeded(), "idle.png: reading the radio");

  controller_.onUpdate();
  QApplication::processEvents();
  check(controller_.lastOutcome().succeeded(), "update.png: the update");
  if (!messageBoxTaken_) {
    failures_ << QStringLiteral("message-box.png (no question was asked)");
  }
  if (!updateTaken_) {
    failures_ << QStringLiteral("update.png (the update showed no progress)");
  }

  // An update that fails on the way, on the radio as it came: the radio stops acknowledging
  // its memory writes.
  radio_.setConfig(asItCame);
  radio_.setFaultPlan(FaultPlan().addEvery(RequestKind::MemWrite, FaultKind::NoAcknowledge));
  pictureResult(QStringLiteral("update-failed.png"), [this] { controller_.onUpdate(); });
  check(!controller_.lastOutcome().succeeded(), "update-failed.png: the update did not fail");
  radio_.setFaultPlan(FaultPlan());

  // The cable is pulled while the window still shows it attached, then the window learns it.
  cable_.disconnect();
  pictureResult(QStringLiteral("port-vanished.png"), [this] { controller_.onGetRadioInfo(); });
  controller_.onCableCount(0);
  QApplication::processEvents();
  pictureResult(QStringLiteral("no-cable.png"), [this] { controller_.onGetRadioInfo(); });
  cable_.reconnect();
  controller_.onCableCount(1);
  QApplication::processEvents();

  controller_.onDealerLogin();
  check(controller_.dealerMode(), "dealer.png: the dealer login");
  window_.serialEdit()->setText(QString::fromLatin1(kTypedSerial));
  QApplication::processEvents();
  save(framedPicture(window_, nullptr), QStringLiteral("dealer.png"));

  window_.setProgressObserver(nullptr);
  return failures_.isEmpty();
}

}  // namespace orvik
