#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace orvik {

class COstrelFlashToolDlg;
class MainController;
class SimCableDriver;
class SimRadio;

// A picture of a window as a person sees it on the desktop: its frame with the title, and the
// dialog that is up over it, if any, centred on it.
QImage framedPicture(QWidget& window, QWidget* dialog);

// Takes the window through its states on the simulated radio and saves one picture of each in
// the folder: idle with a radio read (idle.png), the question before an update
// (message-box.png), an update under way (update.png), an update that failed
// (update-failed.png), a cable that vanished while the window thought it attached
// (port-vanished.png), no cable at all (no-cable.png) and dealer mode (dealer.png), plus the
// start-up picture (splash.png). For people to look at, and for the user's manual; the tests
// check the window itself.
class ScreenshotScript {
 public:
  ScreenshotScript(COstrelFlashToolDlg& window, MainController& controller, SimRadio& radio,
                   SimCableDriver& cable, QString folder);

  // True when every picture was written.
  bool run();
  const QStringList& written() const { return written_; }
  const QStringList& failures() const { return failures_; }

 private:
  void save(const QImage& picture, const QString& name);
  // Runs the action and pictures the first result it shows (not a question) over the window;
  // says so when it showed none.
  void pictureResult(const QString& name, const std::function<void()>& action);

  COstrelFlashToolDlg& window_;
  MainController& controller_;
  SimRadio& radio_;
  SimCableDriver& cable_;
  QString folder_;
  QStringList written_;
  QStringList failures_;
  bool messageBoxTaken_ = false;
  bool updateTaken_ = false;
  // The picture the next result box goes to, while an action runs.
  QString resultPicture_;
};

}  // namespace orvik
