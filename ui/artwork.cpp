#include "ui/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace orvik {
namespace {

constexpr int kRadioWidth = 112;
constexpr int kRadioHeight = 208;

QPixmap transparentPixmap(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// The radio in its own 112 x 208 coordinates; callers scale the painter.
void paintRadio(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);

  // Antenna with its rubber ribs.
  QLinearGradient antenna(20, 0, 36, 0);
  antenna.setColorAt(0, QColor(0x1b, 0x1d, 0x20));
  antenna.setColorAt(0.45, QColor(0x4a, 0x4f, 0x56));
  antenna.setColorAt(1, QColor(0x1b, 0x1d, 0x20));
  p.setBrush(antenna);
  p.drawRoundedRect(QRectF(22, 4, 13, 62), 6, 6);
  p.setBrush(QColor(0x2c, 0x2f, 0x34));
  for (int y = 14; y < 60; y += 7) {
    p.drawRect(QRectF(22, y, 13, 1.5));
  }

  // Channel and volume knobs.
  QLinearGradient knob(0, 0, 1, 0);
  knob.setCoordinateMode(QGradient::ObjectMode);
  knob.setColorAt(0, QColor(0x22, 0x24, 0x28));
  knob.setColorAt(0.5, QColor(0x5a, 0x60, 0x68));
  knob.setColorAt(1, QColor(0x22, 0x24, 0x28));
  p.setBrush(knob);
  p.drawRoundedRect(QRectF(62, 28, 20, 26), 4, 4);
  p.drawRoundedRect(QRectF(42, 38, 13, 16), 3, 3);
  p.setBrush(QColor(0x18, 0x1a, 0x1d));
  for (int x = 65; x < 80; x += 4) {
    p.drawRect(QRectF(x, 30, 1.5, 22));
  }
  // The status lamp.
  QRadialGradient lamp(QPointF(48.5, 32), 4);
  lamp.setColorAt(0, QColor(0x9c, 0xff, 0x9c));
  lamp.setColorAt(1, QColor(0x1e, 0xa0, 0x3c));
  p.setBrush(lamp);
  p.drawEllipse(QPointF(48.5, 32), 3, 3);

  // Push-to-talk key on the side.
  p.setBrush(QColor(0x15, 0x17, 0x19));
  p.drawRoundedRect(QRectF(7, 84, 9, 44), 3, 3);
  p.drawRoundedRect(QRectF(8, 134, 7, 14), 2, 2);

  // Body.
  QLinearGradient body(14, 0, 98, 0);
  body.setColorAt(0, QColor(0x2a, 0x2e, 0x33));
  body.setColorAt(0.18, QColor(0x4b, 0x51, 0x59));
  body.setColorAt(0.55, QColor(0x33, 0x37, 0x3d));
  body.setColorAt(1, QColor(0x1c, 0x1f, 0x22));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(13, 52, 86, 152), 16, 16);
  // A lighter front plate inside the body.
  p.setBrush(QColor(0x26, 0x29, 0x2e));
  p.drawRoundedRect(QRectF(20, 58, 72, 140), 11, 11);

  // Display.
  QLinearGradient lcd(0, 64, 0, 96);
  lcd.setColorAt(0, QColor(0xb9, 0xe4, 0xd9));
  lcd.setColorAt(1, QColor(0x7d, 0xbf, 0xae));
  p.setBrush(QColor(0x11, 0x13, 0x15));
  p.drawRoundedRect(QRectF(25, 63, 62, 36), 5, 5);
  p.setBrush(lcd);
  p.drawRoundedRect(QRectF(28, 66, 56, 30), 3, 3);
  p.setPen(QColor(0x1d, 0x3b, 0x34));
  QFont lcdFont;
  lcdFont.setPixelSize(11);
  lcdFont.setBold(true);
  p.setFont(lcdFont);
  p.drawText(QRectF(40, 66, 44, 18), Qt::AlignCenter, QStringLiteral("CH 01"));
  lcdFont.setPixelSize(7);
  lcdFont.setBold(false);
  p.setFont(lcdFont);
  p.drawText(QRectF(28, 82, 56, 12), Qt::AlignCenter, QStringLiteral("ORVIK"));
  p.setPen(Qt::NoPen);
  // Signal bars in the display's corner.
  p.setBrush(QColor(0x1d, 0x3b, 0x34));
  for (int i = 0; i < 4; ++i) {
    p.drawRect(QRectF(31 + i * 2.5, 77 - i * 2, 1.6, 2 + i * 2));
  }

  // Speaker grille.
  p.setBrush(QColor(0x14, 0x16, 0x18));
  for (int row = 0; row < 6; ++row) {
    p.drawRoundedRect(QRectF(30, 108 + row * 8, 52, 3.5), 1.75, 1.75);
  }

  // Keypad.
  QLinearGradient key(0, 0, 0, 1);
  key.setCoordinateMode(QGradient::ObjectMode);
  key.setColorAt(0, QColor(0x5c, 0x63, 0x6c));
  key.setColorAt(1, QColor(0x3a, 0x3f, 0x46));
  p.setBrush(key);
  for (int row = 0; row < 2; ++row) {
    for (int column = 0; column < 3; ++column) {
      p.drawRoundedRect(QRectF(30 + column * 18, 162 + row * 14, 15, 10), 3, 3);
    }
  }

  // A soft highlight along the left edge gives the body some volume.
  QLinearGradient shine(13, 0, 40, 0);
  shine.setColorAt(0, QColor(255, 255, 255, 50));
  shine.setColorAt(1, QColor(255, 255, 255, 0));
  p.setBrush(shine);
  p.drawRoundedRect(QRectF(13, 52, 30, 152), 16, 16);
}

}  // namespace

QPixmap radioPicture() {
  QPixmap pixmap = transparentPixmap(kRadioWidth, kRadioHeight);
  QPainter painter(&pixmap);
  paintRadio(painter);
  return pixmap;
}

QPixmap splashPicture(const QString& productName, const QString& subtitle, const QString& version,
                      const QString& legalLine) {
  constexpr int kWidth = 520;
  constexpr int kHeight = 300;
  QPixmap pixmap(kWidth, kHeight);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient background(0, 0, kWidth, kHeight);
  background.setColorAt(0, QColor(0x0b, 0x25, 0x45));
  background.setColorAt(1, QColor(0x1b, 0x4a, 0x7a));
  p.fillRect(pixmap.rect(), background);

  // Radio waves rising from the antenna.
  constexpr double kRadioScale = 1.12;
  const QPointF radioAt(326, 50);
  const QPointF antennaTip(radioAt.x() + 28.5 * kRadioScale, radioAt.y() + 2 * kRadioScale);
  for (int i = 1; i <= 4; ++i) {
    QPen wave(QColor(255, 255, 255, 90 - i * 18), 3);
    wave.setCapStyle(Qt::RoundCap);
    p.setPen(wave);
    const double r = 14.0 * i;
    p.drawArc(QRectF(antennaTip.x() - r, antennaTip.y() - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
  }

  // The radio, a little larger than in the window.
  p.save();
  p.translate(radioAt);
  p.scale(kRadioScale, kRadioScale);
  paintRadio(p);
  p.restore();

  // A thin accent line under the product name.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x4f, 0xc3, 0xf7));
  p.drawRect(QRectF(40, 142, 64, 4));

  p.setPen(Qt::white);
  QFont title;
  title.setPixelSize(52);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRectF(38, 58, 280, 64), Qt::AlignLeft | Qt::AlignVCenter, productName);

  QFont sub;
  sub.setPixelSize(24);
  p.setFont(sub);
  p.setPen(QColor(0xc9, 0xe6, 0xff));
  p.drawText(QRectF(40, 104, 280, 34), Qt::AlignLeft | Qt::AlignVCenter, subtitle);

  QFont small;
  small.setPixelSize(13);
  p.setFont(small);
  p.setPen(QColor(0xc9, 0xe6, 0xff));
  p.drawText(QRectF(40, 160, 260, 20), Qt::AlignLeft | Qt::AlignVCenter, version);

  small.setPixelSize(11);
  p.setFont(small);
  p.setPen(QColor(255, 255, 255, 150));
  p.drawText(QRectF(40, kHeight - 40, 300, 20), Qt::AlignLeft | Qt::AlignVCenter, legalLine);
  return pixmap;
}

QIcon applicationIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128}) {
    QPixmap pixmap = transparentPixmap(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient tile(0, 0, 0, size);
    tile.setColorAt(0, QColor(0x1e, 0x6f, 0xc8));
    tile.setColorAt(1, QColor(0x0b, 0x3a, 0x72));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.2, size * 0.2);
    const double scale = size * 0.86 / kRadioHeight;
    p.translate((size - kRadioWidth * scale) / 2, size * 0.07);
    p.scale(scale, scale);
    paintRadio(p);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QPixmap messageIcon(MessageIcon kind, int size) {
  QPixmap pixmap = transparentPixmap(size, size);
  if (kind == MessageIcon::None) {
    return pixmap;
  }
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  p.setPen(Qt::NoPen);
  const QColor blue(0x1a, 0x73, 0xe8);
  QFont glyph;
  glyph.setBold(true);
  glyph.setPixelSize(22);
  switch (kind) {
    case MessageIcon::Exclamation: {
      QPainterPath triangle;
      triangle.moveTo(16, 2.5);
      triangle.lineTo(30.5, 28.5);
      triangle.lineTo(1.5, 28.5);
      triangle.closeSubpath();
      QPen edge(QColor(0xd1, 0x8b, 0x00), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
      p.setPen(edge);
      p.setBrush(QColor(0xf9, 0xb4, 0x0f));
      p.drawPath(triangle);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x2b, 0x2b, 0x2b));
      p.drawRoundedRect(QRectF(14.5, 10, 3, 11), 1.5, 1.5);
      p.drawEllipse(QPointF(16, 24.5), 1.9, 1.9);
      break;
    }
    case MessageIcon::Hand: {
      p.setBrush(QColor(0xd9, 0x30, 0x25));
      p.drawEllipse(QRectF(1, 1, 30, 30));
      QPen cross(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap);
      p.setPen(cross);
      p.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
      p.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
      break;
    }
    case MessageIcon::Asterisk: {
      p.setBrush(blue);
      p.drawEllipse(QRectF(1, 1, 30, 30));
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(16, 9.5), 2.2, 2.2);
      p.drawRoundedRect(QRectF(14.2, 13.5, 3.6, 11.5), 1.6, 1.6);
      break;
    }
    case MessageIcon::Question: {
      p.setBrush(blue);
      p.drawEllipse(QRectF(1, 1, 30, 30));
      p.setPen(Qt::white);
      p.setFont(glyph);
      p.drawText(QRectF(1, 1, 30, 30), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case MessageIcon::None:
      break;
  }
  return pixmap;
}

}  // namespace orvik
