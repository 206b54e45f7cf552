// Start-up and exit of the application: folders, settings with the region check, the single
// instance, and a clean end whatever start-up reached.
#include "app/application.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "app/paths.h"
#include "app/string_table.h"
#include "errors/error_log.h"
#include "pack/pack_cli.h"
#include "tests/package/temp_folder.h"
#include "tests/support/error_text_fixture.h"
#include "tests/support/gate_clock.h"
#include "tests/support/scripted_cable_driver.h"

namespace orvik {
namespace {

const std::string kFileMissingText = stringText(StringId::FileMissing);

class RecordingView : public StartupView {
 public:
  void showMessage(const std::string& text, unsigned style) override {
    messages.push_back(std::to_string(style) + ":" + text);
  }
  void raiseWindow() override { ++raises; }

  std::vector<std::string> messages;
  int raises = 0;
};

// Sets or removes environment variables for one test and puts them back afterwards.
class EnvironmentGuard {
 public:
  void unset(const char* name) {
    remember(name);
    ::unsetenv(name);
  }
  void set(const char* name, const std::string& value) {
    remember(name);
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvironmentGuard() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  void remember(const char* name) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string setupXml(const std::string& region) {
  return "<setup id=\"LACR\" name=\"" + region + "\"><pwd cd1=\"d\" cd2=\"\"/></setup>";
}

class ApplicationTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    std::filesystem::create_directories(packageDir());
    std::filesystem::create_directories(machineDir() / "data");
  }

  std::filesystem::path packageDir() const { return folder_ / "package"; }
  std::filesystem::path machineDir() const { return folder_ / "machine"; }
  StartupOptions options() const {
    return {machineDir().string(), packageDir().string(), (folder_ / "run").string()};
  }

  // A package of the given region without sections, and the machine's matching setup file.
  void writeFiles(const std::string& region) {
    writeScrambled(packageDir() / "config.xml", "<package id=\"LACR\" name=\"" + region + "\"/>");
    writeScrambled(machineDir() / "data" / "setup.dat", setupXml(region));
  }
  void writeScrambled(const std::filesystem::path& path, const std::string& xml) {
    const std::filesystem::path plain = folder_ / "plain.xml";
    std::ofstream(plain, std::ios::binary) << xml;
    std::ostringstream out, err;
    ASSERT_EQ(runPack({"scramble", plain.string(), path.string()}, out, err), kPackOk) << err.str();
  }

  // The error log's lines written since the last call, without their time stamps.
  std::vector<std::string> newLogLines() {
    std::ifstream in(machineDir() / "log" / "err.log");
    std::vector<std::string> lines;
    std::string line;
    std::size_t index = 0;
    while (std::getline(in, line)) {
      if (index++ >= logLinesSeen_) {
        lines.push_back(line.substr(line.find("] ") + 2));
      }
    }
    logLinesSeen_ = index;
    return lines;
  }

  // Runs this thread's messages until the view has been raised or the deadline has passed.
  static bool raisedWithin(RecordingView& view, std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      currentThreadQueue().processPending();
      if (view.raises > 0) {
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !currentThreadQueue().waitForMessage(left)) {
        return false;
      }
    }
  }

  testing::TempFolder folder_;
  VirtualClock virtualClock_;
  testing::ScriptedCableDriver driver_{virtualClock_};
  testing::GateClock clock_;  // never lets a wait end: the monitor holds still
  std::size_t logLinesSeen_ = 0;
};

TEST_F(ApplicationTest, PreparesTitleFoldersLogAndComponents) {
  RecordingView view;
  Application app(driver_, clock_, view, options());
  ASSERT_TRUE(app.PrepareEnvironment());
  EXPECT_EQ(app.title(), "Orvik Update Tool");
  EXPECT_EQ(app.configPath(), packageDir() / "config.xml");
  EXPECT_EQ(app.setupPath(), machineDir() / "data" / "setup.dat");
  EXPECT_EQ(errorLog().path(), machineDir() / "log" / "err.log");
  EXPECT_TRUE(app.task().created());
  EXPECT_TRUE(app.radioManager().created());
  EXPECT_NE(app.config().xmlDocument, nullptr);

  // Without --package the package is the data folder beside the executable's folder; the
  // simulated radio's is the demo folder, and --package overrides either.
  Application installed(driver_, clock_, view, {machineDir().string(), {}, {}});
  ASSERT_TRUE(installed.PrepareEnvironment());
  EXPECT_EQ(installed.packageDir(), installDir() / "data");
  Application demo(driver_, clock_, view, {machineDir().string(), {}, {}});
  demo.useDemoPackage();
  ASSERT_TRUE(demo.PrepareEnvironment());
  EXPECT_EQ(demo.packageDir(), installDir() / "demo");
  Application given(driver_, clock_, view, options());
  given.useDemoPackage();
  ASSERT_TRUE(given.PrepareEnvironment());
  EXPECT_EQ(given.packageDir(), packageDir());
}

// The tool is often run as root: a per-machine folder, or one in it, that another user owns or
// may write to is refused with a message that says which and how to fix it, and nothing is
// written through a link there. A fresh machine's folders are made for the user alone.
TEST_F(ApplicationTest, FoldersOfAnotherUserOrOpenToOthersAreRefusedAndFreshOnesMadePrivate) {
  constexpr uid_t kOtherUser = 65534;
  const std::filesystem::path elsewhere = folder_ / "elsewhere";
  std::filesystem::create_directory(elsewhere);
  const struct Case {
    const char* name;
    std::function<void()> plant;
    std::filesystem::path refused;
    std::string says;
    bool needsRoot;
  } cases[] = {
      {"machine folder of another user",
       [&] { ASSERT_EQ(::chown(machineDir().c_str(), kOtherUser, kOtherUser), 0); }, machineDir(),
       "belongs to another user (uid 65534)", true},
      {"log folder of another user",
       [&] {
         std::filesystem::create_directory(machineDir() / "log");
         ASSERT_EQ(::chown((machineDir() / "log").c_str(), kOtherUser, kOtherUser), 0);
       },
       machineDir() / "log", "chown -R ", true},
      {"data folder others may write",
       [&] { ASSERT_EQ(::chmod((machineDir() / "data").c_str(), 0777), 0); }, machineDir() / "data",
       "may be written by other users", false},
      {"machine folder the group may write",
       [&] { ASSERT_EQ(::chmod(machineDir().c_str(), 0770), 0); }, machineDir(), "chmod go-w",
       false},
      {"log folder as a link",
       [&] { std::filesystem::create_directory_symlink(elsewhere, machineDir() / "log"); },
       machineDir() / "log", "is a symbolic link", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && ::geteuid() != 0) {
      std::cout << "SKIP " << c.name << ": chown to another user needs root\n";
      continue;
    }
    std::filesystem::remove_all(machineDir());
    std::filesystem::create_directories(machineDir() / "data");
    ::chmod(machineDir().c_str(), 0700);
    ::chmod((machineDir() / "data").c_str(), 0700);
    c.plant();
    RecordingView view;
    Application app(driver_, clock_, view, options());
    EXPECT_FALSE(app.PrepareEnvironment());
    EXPECT_TRUE(app.folderRefused());
    ASSERT_EQ(view.messages.size(), 1u);
    const std::string& message = view.messages[0];
    EXPECT_EQ(message.rfind("16:The folder \"" + c.refused.string() + "\" ", 0), 0u) << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_NE(message.find("--data-dir"), std::string::npos) << message;
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
  }

  // A first start: every folder is made, the user's alone.
  std::filesystem::remove_all(machineDir());
  RecordingView view;
  Application fresh(driver_, clock_, view, options());
  ASSERT_TRUE(fresh.PrepareEnvironment());
  EXPECT_TRUE(view.messages.empty());
  for (const char* name : {"", "data", "log", "backup", "journal"}) {
    struct stat info {};
    ASSERT_EQ(::lstat((machineDir() / name).c_str(), &info), 0) << name;
    EXPECT_TRUE(S_ISDIR(info.st_mode)) << name;
    EXPECT_EQ(info.st_mode & 0777, 0700u) << name;
  }
}

TEST_F(ApplicationTest, ThePackageMustBeOfTheToolsRegionInAnyLetterCase) {
  struct Case {
    const char* region;
    bool accepted;
  };
  for (const Case c : {Case{"LACR", true}, Case{"lacr", true}, Case{"LACX", false}}) {
    SCOPED_TRACE(c.region);
    writeFiles(c.region);
    RecordingView view;
    Application app(driver_, clock_, view, options());
    ASSERT_TRUE(app.PrepareEnvironment());
    EXPECT_EQ(app.LoadSettings(), c.accepted);
    if (c.accepted) {
      EXPECT_TRUE(view.messages.empty());
      EXPECT_TRUE(newLogLines().empty());
    } else {
      EXPECT_EQ(view.messages, std::vector<std::string>{
                                   "16:" + kFileMissingText + "\n\nThe update package in " +
                                   packageDir().string() + " is made for region LACX, not LACR."});
      EXPECT_EQ(newLogLines(),
                std::vector<std::string>{
                    "Error:invalid config file.The the applicatio only supportes region [LACR]"});
    }
  }
}

TEST_F(ApplicationTest, AMissingSetupFileIsLoggedShownAndEndsTheStart) {
  writeScrambled(packageDir() / "config.xml", "<package id=\"LACR\" name=\"LACR\"/>");
  RecordingView view;
  Application app(driver_, clock_, view, options());
  EXPECT_FALSE(app.startUp());
  // The oldest line of the error text, written as it stands, then the error text is empty.
  EXPECT_EQ(newLogLines(), std::vector<std::string>{"Error:failed to open the specified file [" +
                                                    app.setupPath().string() + "]."});
  EXPECT_TRUE(testing::errorLines().empty());
  EXPECT_EQ(view.messages,
            std::vector<std::string>{"16:" + kFileMissingText + "\n\nThe setup file " +
                                     app.setupPath().string() + " is missing."});
  EXPECT_EQ(app.instanceLock(), nullptr);
}

// Below string 112 the user reads which file stopped the start and where it was looked for.
TEST_F(ApplicationTest, AFileProblemAtStartSaysWhichFileAndWhere) {
  const std::string config = (packageDir() / "config.xml").string();
  const std::string setup = (machineDir() / "data" / "setup.dat").string();
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string problem;
    // The problem is shown below the common text of a missing or damaged file.
    bool belowFileMissing = true;
  };
  const std::vector<Case> cases = {
      // Nothing to re-install: where the dealer's package goes, and the simulated radio.
      {"no package", [] {},
       "No update package in " + packageDir().string() +
           ": its config.xml is missing.\nName the folder that holds the update package from "
           "your dealer with --package DIR.\nTo try the tool on a simulated radio, start it "
           "with --simulate (on the desktop: Orvik Update Tool (simulated radio)).",
       false},
      {"a damaged package", [&] { std::ofstream(config, std::ios::binary) << "not scrambled xml"; },
       "The update package in " + packageDir().string() +
           " is damaged or incomplete (The initial file [" + config + "] is invalid.)"},
      {"no setup file", [&] { writeScrambled(config, "<package id=\"LACR\" name=\"LACR\"/>"); },
       "The setup file " + setup + " is missing."},
      {"an empty setup file",
       [&] {
         writeScrambled(config, "<package id=\"LACR\" name=\"LACR\"/>");
         std::ofstream(setup, std::ios::binary).flush();
       },
       "The setup file " + setup + " is damaged or does not belong to the update package in " +
           packageDir().string() + " (The setup file [" + setup + "] is invalid.)"},
      {"a setup file of another region",
       [&] {
         writeScrambled(config, "<package id=\"LACR\" name=\"LACR\"/>");
         writeScrambled(setup, "<setup id=\"lacr\" name=\"LACR\"/>");
       },
       "The setup file " + setup + " is damaged or does not belong to the update package in " +
           packageDir().string() + " (The setup has a different region id with config.)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(config);
    std::filesystem::remove(setup);
    c.arrange();
    RecordingView view;
    Application app(driver_, clock_, view, options());
    ASSERT_TRUE(app.PrepareEnvironment());
    EXPECT_FALSE(app.LoadSettings());
    EXPECT_EQ(
        view.messages,
        std::vector<std::string>{
            "16:" + (c.belowFileMissing ? kFileMissingText + "\n\n" : std::string()) + c.problem});
  }
}

// The installer's step at the first start on a machine: the installation's setup file is
// copied into a per-machine folder that has none, privately, and never over one it has.
TEST_F(ApplicationTest, AMachineWithoutASetupFileTakesTheInstalledOne) {
  writeScrambled(packageDir() / "config.xml", "<package id=\"LACR\" name=\"LACR\"/>");
  const std::filesystem::path installed = folder_ / "installed" / "setup.dat";
  const std::filesystem::path setup = machineDir() / "data" / "setup.dat";
  RecordingView view;
  std::string error;
  {
    // Nothing installed: nothing copied, and the user learns where it was looked for.
    Application app(driver_, clock_, view, options());
    ASSERT_TRUE(app.PrepareEnvironment());
    // The setup file comes with the update package in use, also one named with --package.
    EXPECT_EQ(app.installedSetupPath(), packageDir() / "setup.dat");
    EXPECT_EQ(app.takeInstalledSetup(installed, error), Application::SetupCopy::NoneInstalled);
    EXPECT_FALSE(std::filesystem::exists(setup));
    EXPECT_FALSE(app.LoadSettings());
    EXPECT_EQ(view.messages, std::vector<std::string>{
                                 "16:" + kFileMissingText + "\n\nThe setup file " + setup.string() +
                                 " is missing. The installation has none to " + "copy in " +
                                 installed.parent_path().string() + "."});
  }
  std::filesystem::create_directories(installed.parent_path());
  writeScrambled(installed, setupXml("LACR"));
  {
    Application app(driver_, clock_, view, options());
    ASSERT_TRUE(app.PrepareEnvironment());
    EXPECT_EQ(app.takeInstalledSetup(installed, error), Application::SetupCopy::Copied) << error;
    EXPECT_EQ(std::filesystem::status(setup).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_TRUE(app.LoadSettings());
    EXPECT_EQ(app.config().dealerPassword, "d");
  }
  // The machine's own file, with a dealer login remembered, stays as it is.
  writeScrambled(setup, "<setup id=\"LACR\" name=\"LACR\"><pwd cd1=\"d\" cd2=\"d\"/></setup>");
  {
    Application app(driver_, clock_, view, options());
    ASSERT_TRUE(app.PrepareEnvironment());
    EXPECT_EQ(app.takeInstalledSetup(installed, error), Application::SetupCopy::Present);
    ASSERT_TRUE(app.LoadSettings());
    EXPECT_EQ(app.config().savedPassword, "d");
  }
}

// A run on the simulated radio keeps to a machine folder of its own unless one is named: the
// real machine's folder, also one named in ORVIK_DATA_DIR, is never created or written.
TEST_F(ApplicationTest, TheSimulatedMachineHasAFolderOfItsOwn) {
  EnvironmentGuard environment;
  environment.set("XDG_DATA_HOME", (folder_ / "xdg").string());
  environment.set("ORVIK_DATA_DIR", (folder_ / "real").string());
  RecordingView view;
  Application simulated(driver_, clock_, view, {std::nullopt, packageDir().string(), {}});
  simulated.useSimulatedMachine();
  ASSERT_TRUE(simulated.PrepareEnvironment());
  EXPECT_EQ(simulated.dataDir(),
            folder_ / "xdg" / "Corvane Solutions" / "Orvik Update Tool (simulated radio)");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "real"));

  Application named(driver_, clock_, view, options());
  named.useSimulatedMachine();
  ASSERT_TRUE(named.PrepareEnvironment());
  EXPECT_EQ(named.dataDir(), machineDir());

  Application real(driver_, clock_, view, {std::nullopt, packageDir().string(), {}});
  ASSERT_TRUE(real.PrepareEnvironment());
  EXPECT_EQ(real.dataDir(), folder_ / "real");
}

TEST_F(ApplicationTest, ASecondStartRaisesTheFirstUnlessItsOwnFilesAreBroken) {
  writeFiles("LACR");
  RecordingView firstView;
  Application first(driver_, clock_, firstView, options());
  ASSERT_TRUE(first.startUp());
  ASSERT_EQ(first.instanceLock()->state(), SingleInstance::State::Owner);

  // A start whose package is broken says so and never looks for the first instance.
  StartupOptions broken = options();
  broken.packageDir = (folder_ / "nothing").string();
  RecordingView brokenView;
  Application brokenStart(driver_, clock_, brokenView, broken);
  EXPECT_FALSE(brokenStart.startUp());
  ASSERT_EQ(brokenView.messages.size(), 1u);
  EXPECT_TRUE(brokenView.messages[0].starts_with("16:No update package in " +
                                                 (folder_ / "nothing").string()))
      << brokenView.messages[0];
  EXPECT_EQ(brokenStart.instanceLock(), nullptr);

  RecordingView secondView;
  Application second(driver_, clock_, secondView, options());
  EXPECT_FALSE(second.startUp());
  EXPECT_TRUE(secondView.messages.empty());
  EXPECT_EQ(second.instanceLock()->state(), SingleInstance::State::OtherRunning);
  // The request reaches the first instance's view on this (its start-up) thread.
  EXPECT_TRUE(raisedWithin(firstView, std::chrono::seconds(10)));
  EXPECT_EQ(firstView.raises, 1);
  EXPECT_EQ(secondView.raises, 0);
}

TEST_F(ApplicationTest, ExitReleasesEverythingSoTheNextStartOwnsTheLock) {
  writeFiles("LACR");
  RecordingView view;
  Application first(driver_, clock_, view, options());
  ASSERT_TRUE(first.startUp());
  const std::filesystem::path socket = first.instanceLock()->socketPath();
  EXPECT_TRUE(std::filesystem::exists(socket));

  first.exitInstance();
  EXPECT_EQ(first.config().xmlDocument, nullptr);
  EXPECT_EQ(first.instanceLock(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(socket));

  Application next(driver_, clock_, view, options());
  EXPECT_TRUE(next.startUp());
  EXPECT_EQ(next.instanceLock()->state(), SingleInstance::State::Owner);
}

TEST_F(ApplicationTest, ALockThatCannotBeTakenIsLoggedAndEndsTheStart) {
  writeFiles("LACR");
  std::ofstream(folder_ / "run") << "a file where the runtime folder should be";
  RecordingView view;
  Application app(driver_, clock_, view, options());
  EXPECT_FALSE(app.startUp());
  EXPECT_EQ(newLogLines(), std::vector<std::string>{"Error:failed to create mutex."});
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(ApplicationTest, ExitAfterAFailedPrepareRunsCleanly) {
  EnvironmentGuard environment;
  environment.unset("ORVIK_DATA_DIR");
  environment.unset("XDG_DATA_HOME");
  environment.unset("HOME");
  RecordingView view;
  Application app(driver_, clock_, view, {std::nullopt, packageDir().string(), std::nullopt});
  EXPECT_FALSE(app.startUp());
  EXPECT_FALSE(app.task().created());
  EXPECT_FALSE(app.radioManager().created());
  EXPECT_EQ(app.config().xmlDocument, nullptr);
  EXPECT_EQ(app.instanceLock(), nullptr);
  app.exitInstance();
  app.exitInstance();  // and once more from the destructor
  EXPECT_TRUE(view.messages.empty());
}

}  // namespace
}  // namespace orvik
