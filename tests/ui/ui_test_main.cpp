// The window's tests need one QApplication for the whole run, on the offscreen platform unless
// the caller chose another. As in the other test programs, files are made under the umask 022,
// so that a private file is private by the tool's own doing.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <QApplication>
#include <QStyleFactory>

int main(int argc, char** argv) {
  ::umask(022);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
