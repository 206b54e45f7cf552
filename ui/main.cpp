// orvik-update: the update tool's desktop window.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>

#include <iostream>

#include "app/application.h"
#include "base/program_version.h"
#include "errors/error_log.h"
#include "frontend/controller_wiring.h"
#include "frontend/front_end_options.h"
#include "frontend/radio_session.h"
#include "ui/about_dialog.h"
#include "ui/artwork.h"
#include "ui/end_signals.h"
#include "ui/main_window.h"
#include "ui/qt_arguments.h"
#include "ui/qt_message_pump.h"
#include "ui/qt_startup_view.h"
#include "ui/screenshot_script.h"
#include "ui/splash_screen.h"
#include "ui/table_text.h"
#include "workflow/console_server.h"
#include "workflow/main_controller.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  using namespace orvik;
  CLI::App options{
      "Orvik Update Tool: reads, updates and serialises a radio through the USB "
      "programming cable."};
  options.set_version_flag("--version", std::string("orvik-update ") + kProgramVersion);
  // Qt's own options (-platform, -style, ...) pass through to Qt.
  options.allow_extras();
  FrontEndOptions shared;
  addFrontEndOptions(options, shared);
  std::optional<std::string> screenshots;
  // Takes the window through its states and saves pictures of them (scripts/screenshots.sh).
  options.add_option("--screenshots", screenshots)->group("");
  try {
    options.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = options.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (const auto unknown = firstNonQtArgument(options.remaining())) {
    std::cerr << "Unknown option or argument: " << *unknown
              << "\nRun with --help for more information.\n";
    return kExitUsage;
  }
  if (screenshots && !shared.link.simulate) {
    std::cerr << "--screenshots runs on the simulated radio: add --simulate\n";
    return kExitUsage;
  }

  QApplication qt(argc, argv);
  // Fusion looks the same on every desktop; a style named on the command line or in
  // QT_STYLE_OVERRIDE is the user's choice, which Qt has applied already.
  if (!styleArgument(options.remaining()) && qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE")) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  }
  QApplication::setWindowIcon(applicationIcon());
  const QString title =
      tableText(StringId::ProductName) + QLatin1Char(' ') + tableText(StringId::UpdateTool);
  QApplication::setApplicationName(title);

  // The message windows of this thread run from Qt's loop from here on.
  QtMessagePump pump;
  RadioSession session(shared.link);
  QtStartupView startupView;
  startupView.setUnattended(screenshots.has_value());
  Application application(session.driver(), session.clock(), startupView, shared.startup);
  application.useTrustedKeys(shared.trustedKeys);
  if (!session.start(application, shared.startup, shared.trace, std::cerr)) {
    return kExitFailure;
  }
  if (!application.EnsureSingleInstance()) {
    const SingleInstance* lock = application.instanceLock();
    // Another tool runs and has been asked to come forward; otherwise the lock failed.
    return lock != nullptr && lock->state() == SingleInstance::State::OtherRunning ? kExitOk
                                                                                   : kExitFailure;
  }

  RadioManager& manager = application.radioManager();
  if (!screenshots) {
    CSplashScreen splash(
        splashPicture(tableText(StringId::ProductName), tableText(StringId::UpdateTool),
                      tableText(StringId::VersionFormat)
                          .replace(QStringLiteral("%s"), QLatin1String(CAboutDlg::kToolVersion)),
                      tableText(StringId::Copyright)),
        CSplashScreen::kDefaultTimeoutMs);
    splash.exec();
  }

  COstrelFlashToolDlg window(application.config(), pump);
  startupView.setWindow(&window);
  window.setBaseFolder(application.baseDir());
  // The about box names the signer; for a package used unchecked it says how to check it.
  const std::string notice = application.unsignedNotice();
  if (!notice.empty()) {
    std::cerr << notice << '\n';
  }
  if (application.packageTrust()) {
    window.setPackageSigner(application.packageTrust()->signerText() +
                            (notice.empty() ? "" : ".\n" + notice));
  }
  MainController controller(manager, application.task(), application.config(), window);
  window.setController(&controller);
  wireController(controller, application, std::cerr);

  ConsoleServer console;
  if (!screenshots) {
    const std::filesystem::path socket = shared.consoleSocketPath();
    if (!listenForConsoles(console, controller, socket)) {
      // The window works without a console; only test mode is out of reach.
      errorLog().logLine("Error:the console socket is not available [%s].",
                         console.error().c_str());
    }
  }

  controller.initialize();
  int status = kExitOk;
  std::optional<ScreenshotScript> script;
  if (screenshots) {
    script.emplace(window, controller, *session.simulatedRadio(), *session.simulatedCable(),
                   QString::fromStdString(*screenshots));
    QTimer::singleShot(0, &window, [&] {
      if (script->run()) {
        for (const QString& path : script->written()) {
          std::cout << path.toStdString() << '\n';
        }
      } else {
        for (const QString& failure : script->failures()) {
          std::cerr << "Not written: " << failure.toStdString() << '\n';
        }
        status = kExitFailure;
      }
      window.close();
    });
  }
  // Once the window has closed (only ever while no action runs), a console's request still on
  // its way must not start an update behind it.
  QObject::connect(&qt, &QGuiApplication::lastWindowClosed, [&] {
    controller.setConsoleChannel(nullptr);
    console.stop();
  });
  // Told to end (SIGTERM at a log-out or shutdown, SIGHUP, Ctrl-C in the terminal that
  // started it), the window does not die in the middle of an update: the update stops at its
  // next safe point (before its first erase, or once the firmware is whole), its result is
  // shown and recorded, and then the window closes.
  bool endRequested = false;
  QTimer closeWhenIdle;
  closeWhenIdle.setInterval(200);
  QObject::connect(&closeWhenIdle, &QTimer::timeout, [&] {
    if (controller.requestExit()) {
      closeWhenIdle.stop();
      window.close();
    }
  });
  const EndSignals endSignals([&] {
    if (controller.requestExit()) {
      window.close();
      return;
    }
    if (!endRequested) {
      endRequested = true;
      controller.programCommand().requestStop();
      std::cerr << "Asked to end: the update stops at its next safe point, then the window "
                   "closes.\n";
      closeWhenIdle.start();
    }
  });
  // In the middle of the screen, also where no window manager places it.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
  }
  window.show();
  QApplication::exec();

  controller.setConsoleChannel(nullptr);
  console.stop();
  controller.close();
  window.setController(nullptr);
  application.exitInstance();
  return status;
}
