#include "ui/wait_dialog.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>

#include <chrono>

#include "exec/message_window.h"
#include "ui/qt_message_pump.h"

namespace orvik {
namespace {

// A ring of dots turning while the work goes on; how far it is lies in the main window's
// status bar.
class BusySpinner : public QWidget {
 public:
  static constexpr int kSize = 26;
  static constexpr int kDots = 12;

  explicit BusySpinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(kSize, kSize);
    timer_.setInterval(80);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      step_ = (step_ + 1) % kDots;
      update();
    });
  }

 protected:
  void showEvent(QShowEvent*) override { timer_.start(); }
  void hideEvent(QHideEvent*) override { timer_.stop(); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.translate(kSize / 2.0, kSize / 2.0);
    const QColor colour = palette().color(QPalette::Highlight);
    for (int i = 0; i < kDots; ++i) {
      QColor dot = colour;
      dot.setAlphaF(0.15 + 0.85 * ((i - step_ + kDots) % kDots) / (kDots - 1.0));
      p.setBrush(dot);
      p.drawEllipse(QPointF(0, -kSize / 2.0 + 3), 2.4, 2.4);
      p.rotate(360.0 / kDots);
    }
  }

 private:
  QTimer timer_;
  int step_ = 0;
};

}  // namespace

WaitDialog::WaitDialog(QWidget* parent, const QString& text)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setModal(true);
  setFixedSize(kWidth, kHeight);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(18, 12, 18, 12);
  layout->setSpacing(14);
  layout->addWidget(new BusySpinner(this));
  label_ = new QLabel(text, this);
  label_->setAlignment(Qt::AlignCenter);
  label_->setWordWrap(true);
  QFont font = label_->font();
  font.setPointSizeF(font.pointSizeF() * 1.1);
  label_->setFont(font);
  // The text takes all the room beside the spinner, so a longer one wraps as little as it can.
  layout->addWidget(label_, 1);
}

QString WaitDialog::text() const {
  return label_->text();
}

void WaitDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  painter.setPen(palette().color(QPalette::Window).darker(160));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

QtWaitView::QtWaitView(QtMessagePump& pump, QWidget* parent) : pump_(pump), parent_(parent) {}

void QtWaitView::runModal(const std::string& text, const std::function<bool()>& ended) {
  if (ended()) {
    return;
  }
  WaitDialog dialog(parent_, QString::fromStdString(text));
  dialog.setWindowModality(Qt::ApplicationModal);
  WaitDialog* const outer = active_;
  active_ = &dialog;
  dialog.show();
  if (shown_) {
    shown_(dialog);
  }
  // The loop ends only from an observer of the pump, that is after a run of the messages in
  // which the work ended; the check before it covers an end that came while showing.
  QEventLoop loop;
  const int observer = pump_.addObserver([&loop, &ended] {
    if (ended()) {
      loop.quit();
    }
  });
  while (!ended()) {
    loop.exec(QEventLoop::DialogExec);
    if (!ended()) {
      // Qt's loops return at once once the application is quitting, yet the command still
      // works on the radio: wait for its end on the message queue itself.
      currentThreadQueue().waitForMessage(std::chrono::milliseconds(100));
      pump_.runPending();
    }
  }
  pump_.removeObserver(observer);
  dialog.hide();
  active_ = outer;
}

}  // namespace orvik
