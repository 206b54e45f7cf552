#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

class QWidget;

namespace orvik {

class COstrelFlashToolDlg;
class MainController;

// A picture of a window as a person sees it on the desktop: its frame with the title, and the
// dialog that is up over it, if any, centred on it.
QImage framedPicture(QWidget& window, QWidget* dialog);

// Takes the window through its states on the simulated radio and saves one picture of each in
// the folder: idle with a radio read (idle.png), the question before an update
// (message-box.png), an update under way (update.png) and dealer mode (dealer.png), plus the
// start-up picture (splash.png). For people to look at; the tests check the window itself.
class ScreenshotScript {
 public:
  ScreenshotScript(COstrelFlashToolDlg& window, MainController& controller, QString folder);

  // True when every picture was written.
  bool run();
  const QStringList& written() const { return written_; }
  const QStringList& failures() const { return failures_; }

 private:
  void save(const QImage& picture, const QString& name);

  COstrelFlashToolDlg& window_;
  MainController& controller_;
  QString folder_;
  QStringList written_;
  QStringList failures_;
  bool messageBoxTaken_ = false;
  bool updateTaken_ = false;
};

}  // namespace orvik
