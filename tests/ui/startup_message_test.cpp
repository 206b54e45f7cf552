// A start that finds a file missing or damaged shows, in the window's message box, what to do:
// without any update package, where the dealer's package goes and how to try the simulated
// radio; nothing is to be re-installed.
#include <gtest/gtest.h>

#include <fstream>

#include "app/application.h"
#include "app/string_table.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"
#include "tests/support/gate_clock.h"
#include "tests/support/stub_cable_driver.h"
#include "ui/msg_box.h"
#include "ui/qt_startup_view.h"

namespace orvik {
namespace {

class StartupMessageTest : public testing::ErrorTextTest {};

TEST_F(StartupMessageTest, WithoutAPackageTheBoxSaysWhereItGoes) {
  testing::TempFolder folder;
  const std::filesystem::path package = folder.path() / "package";
  const std::filesystem::path machine = folder.path() / "machine";
  std::filesystem::create_directories(package);
  QtStartupView view;
  std::vector<QString> texts;
  std::vector<MessageIcon> icons;
  view.setMessageBoxRunner([&](CMsgBox& box) {
    texts.push_back(box.text());
    icons.push_back(box.icon());
    return box.defaultButtonId();
  });
  testing::StubCableDriver driver;
  testing::GateClock clock;
  Application app(driver, clock, view,
                  {machine.string(), package.string(), (folder.path() / "run").string()});
  ASSERT_TRUE(app.PrepareEnvironment());
  EXPECT_FALSE(app.LoadSettings());
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].toStdString(),
            "No update package in " + package.string() +
                ": its config.xml is missing.\nName the folder that holds the update package "
                "from your dealer with --package DIR.\nTo try the tool on a simulated radio, "
                "start it with --simulate (on the desktop: Orvik Update Tool (simulated radio)).");
  EXPECT_EQ(icons[0], MessageIcon::Hand);
}

}  // namespace
}  // namespace orvik
