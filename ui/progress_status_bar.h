#pragma once

#include <QColor>
#include <QRect>
#include <QStatusBar>
#include <QString>

namespace orvik {

// The main window's status bar in three parts: the help text (to 30 % of the width), the cable
// text (to 60 %) and the progress of the running command, drawn as a bar with a centred
// percentage whose text changes colour where the bar covers it.
class CProgressStatusBar : public QStatusBar {
 public:
  static constexpr unsigned kRange = 100;
  static constexpr int kControlId = 1000;

  explicit CProgressStatusBar(QWidget* parent = nullptr);

  // Shown in part 0; a text equal to the current one changes nothing.
  void setHelpText(const QString& text);
  const QString& helpText() const { return helpText_; }
  // Part 1 says whether a cable is attached; only a change of state is shown.
  void setCableConnected(bool connected);
  bool cableConnected() const { return !disconnected_; }
  const QString& cableText() const { return cableText_; }

  // Progress as value out of total, or as a percentage when total is 0. A percentage above the
  // range, or equal to the current one, is ignored. True when the bar changed and is redrawn.
  bool setProgress(unsigned value, unsigned total);
  unsigned position() const { return position_; }
  unsigned range() const { return range_; }

  // The area of a part (0, 1 or 2) in the bar's coordinates.
  QRect partRect(int part) const;
  // Where the bar and its percentage are drawn, inside part 2.
  QRect progressRect() const;
  // Where the cable text is drawn, after its lamp, inside part 1.
  QRect cableTextRect() const;
  // The colours of the bar and of the text over it; the text beside the bar has the bar's
  // ordinary text colour.
  QColor barColour() const;
  QColor barTextColour() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void paintProgress(QPainter& painter);
  int partRight(int part) const;
  int lampSize() const;

  unsigned position_ = 0;
  unsigned range_ = kRange;
  QString cableText_;
  QString helpText_;
  bool disconnected_ = true;
};

}  // namespace orvik
