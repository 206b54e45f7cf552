#include "ui/splash_screen.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace orvik {

CSplashScreen::CSplashScreen(const QPixmap& picture, int timeoutMs, QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      picture_(picture),
      timeoutMs_(timeoutMs) {
  setModal(true);
  setFixedSize(picture_.size() / picture_.devicePixelRatio());
}

void CSplashScreen::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
  QTimer::singleShot(timeoutMs_, this, [this] { done(QDialog::Accepted); });
}

void CSplashScreen::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, picture_);
}

}  // namespace orvik
