#include "ui/progress_status_bar.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "ui/table_text.h"

namespace orvik {
namespace {

constexpr int kTextPadding = 8;
constexpr int kPartInset = 3;
constexpr int kLampGap = 6;
// The cable part lies between 30 % and 60 % of the width.
constexpr int kCablePartPercent = 30;
const QColor kConnectedLamp(0x2e, 0x9d, 0x46);
const QColor kDisconnectedLamp(0xa0, 0xa0, 0xa0);

}  // namespace

CProgressStatusBar::CProgressStatusBar(QWidget* parent)
    : QStatusBar(parent),
      cableText_(tableText(StringId::CableDisconnected)),
      helpText_(tableText(StringId::HelpPrompt)) {
  setSizeGripEnabled(false);
  setAutoFillBackground(false);
}

void CProgressStatusBar::setHelpText(const QString& text) {
  if (text == helpText_) {
    return;
  }
  helpText_ = text;
  update(partRect(0));
}

void CProgressStatusBar::setCableConnected(bool connected) {
  if (connected == !disconnected_) {
    return;
  }
  disconnected_ = !connected;
  cableText_ = tableText(connected ? StringId::CableConnected : StringId::CableDisconnected);
  update(partRect(1));
}

bool CProgressStatusBar::setProgress(unsigned value, unsigned total) {
  unsigned percent = value;
  if (total != 0) {
    const double scaled = std::trunc(static_cast<double>(range_) * value / total);
    if (scaled > std::numeric_limits<std::int32_t>::max()) {
      return false;
    }
    percent = static_cast<unsigned>(scaled);
  }
  if (percent > range_ || percent == position_) {
    return false;
  }
  position_ = percent;
  update(partRect(2));
  return true;
}

int CProgressStatusBar::partRight(int part) const {
  switch (part) {
    case 0:
      return width() * 30 / 100;
    case 1:
      return width() * 60 / 100;
    default:
      return width();
  }
}

QRect CProgressStatusBar::partRect(int part) const {
  const int left = part == 0 ? 0 : partRight(part - 1);
  return QRect(left, 0, partRight(part) - left, height());
}

QRect CProgressStatusBar::progressRect() const {
  QRect part = partRect(2);
  part.setLeft(part.left() + 1);
  return part.adjusted(kPartInset, kPartInset, -kPartInset - 1, -kPartInset);
}

QColor CProgressStatusBar::barColour() const {
  return palette().color(QPalette::Highlight);
}

QColor CProgressStatusBar::barTextColour() const {
  return palette().color(QPalette::HighlightedText);
}

int CProgressStatusBar::lampSize() const {
  return fontMetrics().height() / 2;
}

QRect CProgressStatusBar::cableTextRect() const {
  return partRect(1).adjusted(kTextPadding + lampSize() + kLampGap, 0, -kTextPadding, 0);
}

QSize CProgressStatusBar::sizeHint() const {
  // Wide enough that the cable part, at its fixed share of the width, holds either cable text
  // whole in the font the bar has (a larger font or another style must not cut it off).
  int text = 0;
  for (const StringId id : {StringId::CableConnected, StringId::CableDisconnected}) {
    text = std::max(text, fontMetrics().horizontalAdvance(tableText(id)));
  }
  text = std::max(text, fontMetrics().horizontalAdvance(cableText_));
  const int part = text + 2 * kTextPadding + lampSize() + kLampGap + 1;
  const int width = (part * 100 + kCablePartPercent - 1) / kCablePartPercent;
  return QSize(std::max(QStatusBar::sizeHint().width(), width), fontMetrics().height() + 12);
}

void CProgressStatusBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor background = palette().color(QPalette::Window);
  painter.fillRect(rect(), background);
  painter.setPen(background.darker(118));
  painter.drawLine(0, 0, width(), 0);

  // Raised separators between the parts.
  for (int part = 0; part < 2; ++part) {
    const int x = partRight(part);
    painter.setPen(background.darker(125));
    painter.drawLine(x - 1, kPartInset, x - 1, height() - kPartInset - 1);
    painter.setPen(background.lighter(112));
    painter.drawLine(x, kPartInset, x, height() - kPartInset - 1);
  }

  painter.setPen(palette().color(QPalette::WindowText));
  const QRect help = partRect(0).adjusted(kTextPadding, 0, -kTextPadding, 0);
  painter.drawText(help, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(helpText_, Qt::ElideRight, help.width()));

  // A lamp before the cable text makes the state readable at a glance.
  const QRect cable = partRect(1).adjusted(kTextPadding, 0, -kTextPadding, 0);
  const int lamp = lampSize();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(disconnected_ ? kDisconnectedLamp : kConnectedLamp);
  painter.drawEllipse(QRectF(cable.left(), cable.center().y() - lamp / 2.0 + 0.5, lamp, lamp));
  painter.restore();
  const QRect cableTextArea = cableTextRect();
  painter.drawText(cableTextArea, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(cableText_, Qt::ElideRight, cableTextArea.width()));

  paintProgress(painter);
}

void CProgressStatusBar::paintProgress(QPainter& painter) {
  const QRect area = progressRect();
  if (area.isEmpty()) {
    return;
  }
  // Drawn off screen first so the part never shows half a frame.
  QPixmap canvas(area.size());
  canvas.fill(palette().color(QPalette::Window));
  if (position_ != 0) {
    QPainter p(&canvas);
    p.setFont(font());
    const QRect local(QPoint(0, 0), area.size());
    const QString percent = QStringLiteral("%1%").arg(position_);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(local, Qt::AlignCenter, percent);
    const int barWidth = static_cast<int>(static_cast<double>(position_) / range_ * local.width());
    const QRect bar(0, 0, barWidth, local.height());
    p.setClipRect(bar);
    p.fillRect(bar, barColour());
    p.setPen(barTextColour());
    p.drawText(local, Qt::AlignCenter, percent);
  }
  painter.drawPixmap(area.topLeft(), canvas);
}

}  // namespace orvik
