#pragma once

#include <QDialog>
#include <QPixmap>

namespace orvik {

// The borderless start-up picture: exactly the picture's size, centred on the screen, and gone
// after the time-out (the application passes one second). It cannot be closed by hand.
class CSplashScreen : public QDialog {
 public:
  static constexpr int kDefaultTimeoutMs = 1000;

  CSplashScreen(const QPixmap& picture, int timeoutMs, QWidget* parent = nullptr);
  int timeoutMs() const { return timeoutMs_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void reject() override {}

 private:
  QPixmap picture_;
  int timeoutMs_;
};

}  // namespace orvik
