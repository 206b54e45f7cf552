// The wait dialog stays up until its work has ended, even when the application is quitting.
#include "ui/wait_dialog.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QTimer>

#include <thread>

#include "exec/message_window.h"
#include "ui/qt_message_pump.h"

namespace orvik {
namespace {

TEST(WaitDialogTest, AQuittingApplicationDoesNotEndTheWaitBeforeTheWork) {
  QtMessagePump pump;
  QtWaitView view(pump, nullptr);
  bool done = false;
  const WindowHandle window = createMessageWindow([&](const Message&) { done = true; });
  std::thread worker;
  view.setShownHook([&](WaitDialog&) {
    // Every Qt loop of this thread now returns at once; the work ends only afterwards.
    QCoreApplication::exit(0);
    worker = std::thread([window] { postMessage(window, MSG_COMMAND_FINISHED, 0, 0); });
  });
  view.runModal("Please wait...", [&] { return done; });
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(view.activeDialog(), nullptr);
  destroyMessageWindow(window);

  // Let the application's loop run again for the tests that follow.
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

}  // namespace
}  // namespace orvik
