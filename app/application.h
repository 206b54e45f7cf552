#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/single_instance.h"
#include "app/startup_view.h"
#include "base/clock.h"
#include "config/config.h"
#include "exec/message_window.h"
#include "exec/radio_manager.h"
#include "exec/task.h"
#include "link/cable_driver.h"
#include "package/signed_package.h"

namespace orvik {

// The region the tool is made for; a package of another region is refused.
inline constexpr const char* kToolRegionCode = "LACR";
inline constexpr const char* kPackageFolder = "data";
// The demo package of the simulated radio lies apart, so that a real radio is never offered it.
inline constexpr const char* kDemoPackageFolder = "demo";
inline constexpr const char* kConfigFileName = "config.xml";
// The name of the desktop entry that starts the window on the simulated radio.
inline constexpr const char* kSimulatedEntryName = "Orvik Update Tool (simulated radio)";
inline constexpr const char* kSetupFileName = "setup.dat";
// The demo package's key (built with the tool, its secret half never installed), trusted for
// the demo package alone.
inline constexpr const char* kDemoKeyFolder = "demo-key";
// The single-instance lock is named after this, followed by the region code.
inline constexpr const char* kInstanceNamePrefix =
    "B5562DD0-F56D-4608-8F97-8118EFEC84BFOSTREL_FLASH_TOOL_";
inline constexpr std::size_t kMaxTitleChars = 259;

// Posted to the application's own window when a later start asks this one to come forward,
// so that the front end's raiseWindow runs on the start-up (user-interface) thread.
inline constexpr unsigned MSG_RAISE_WINDOW = 1400;

// "B5562DD0-...FLASH_TOOL_LACR".
std::string instanceName();

// What the front end's command line chose; each is optional.
struct StartupOptions {
  std::optional<std::string> dataDir;     // --data-dir: the per-machine folder
  std::optional<std::string> packageDir;  // --package: the update package (default <base>/data)
  std::optional<std::string> runtimeDir;  // where the instance lock lies
};

// The application: the folders, the run's long-lived objects (worker task, radio manager,
// configuration with its document, instance lock) and the steps that start and end a run.
// Start-up and exit run on the user-interface thread, which then owns the task's and the
// manager's windows.
//
// Every run ends in exitInstance, whatever start-up reached; the destructor calls it too.
class Application {
 public:
  Application(CableDriver& driver, Clock& clock, StartupView& view, StartupOptions options = {});
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Without --package, take the demo package (demo/ beside bin/) instead of data/. Only a run
  // on the simulated radio asks for it, before PrepareEnvironment.
  void useDemoPackage() { demoPackage_ = true; }
  // The per-machine folder is the simulated machine's (--data-dir, else a folder of its own),
  // never the real machine's. Only a run on the simulated radio asks for it.
  void useSimulatedMachine() { simulatedMachine_ = true; }
  // --trusted-keys: the folder of trusted public keys for this run, instead of the system's
  // and the installation's. Before LoadSettings.
  void useTrustedKeys(std::optional<std::string> folder) { trustedKeysDir_ = std::move(folder); }

  // PrepareEnvironment, LoadSettings and EnsureSingleInstance in this order, up to the first
  // that fails. When this is true the front end shows its splash and main window.
  bool startUp();

  // Title, folders, error log, the task's and the manager's windows and the XML document. A
  // per-machine folder (or one in it) that is not the user's, or that others may write, is
  // refused with a message that says which and how to fix it.
  bool PrepareEnvironment();
  // PrepareEnvironment refused the per-machine folder and has said why.
  bool folderRefused() const { return folderRefused_; }
  // The installer's step, done per user at the first start on a machine, after
  // PrepareEnvironment: a per-machine folder without a setup file takes a copy of the one the
  // installation holds (installedSetupPath, unless another is named). The tool itself never
  // writes one of its own. Failed says why in error.
  enum class SetupCopy { Present, Copied, NoneInstalled, Failed };
  SetupCopy takeInstalledSetup(const std::filesystem::path& installed, std::string& error);
  // Loads the configuration and the setup file and checks the region. A failure shows string
  // 112 with, below it, which file is missing or damaged and where it was looked for.
  bool LoadSettings();
  // True when no other instance runs; otherwise the running one is asked to come forward.
  bool EnsureSingleInstance();
  // Releases the document, stops the cable monitor and gives up the instance lock; copes
  // with whatever was never created and may run more than once.
  void exitInstance();

  const std::string& title() const { return title_; }
  const std::filesystem::path& baseDir() const { return baseDir_; }
  const std::filesystem::path& dataDir() const { return dataDir_; }
  const std::filesystem::path& packageDir() const { return packageDir_; }
  std::filesystem::path configPath() const;
  std::filesystem::path setupPath() const;
  // The region's setup file that comes with the update package in use: the installation's
  // data/ or the folder --package names.
  std::filesystem::path installedSetupPath() const;

  Task& task() { return task_; }
  RadioManager& radioManager() { return manager_; }
  Config& config() { return config_; }
  // The update package checked against the trusted keys by LoadSettings; the front ends show
  // who signed it and the workflow refuses a package that failed.
  std::shared_ptr<const PackageTrust> packageTrust() const { return packageTrust_; }
  // The notice for a package used without a signature check, or "" when it was checked.
  std::string unsignedNotice() const;
  // The instance lock; none until EnsureSingleInstance has run.
  const SingleInstance* instanceLock() const { return instance_.get(); }

 private:
  // Which file stopped LoadSettings and where it was looked for, for the user.
  // What a start without any update package says: where the dealer's package goes, and how to
  // try the tool on the simulated radio.
  std::string noPackageText() const;
  std::string settingsProblem(const std::string& firstError) const;
  // Reads the package once against the trusted keys; a verified package's bytes are the ones
  // the configuration and the update then use.
  void checkPackageTrust();
  // String 112 with the problem below it.
  void showFileProblem(const std::string& problem);

  StartupView& view_;
  StartupOptions options_;
  bool demoPackage_ = false;
  bool folderRefused_ = false;
  bool simulatedMachine_ = false;
  std::optional<std::string> trustedKeysDir_;
  // Where takeInstalledSetup looked for the installation's setup file, when it ran.
  std::optional<std::filesystem::path> installedSetupLookedFor_;
  std::string title_;
  std::filesystem::path baseDir_;
  std::filesystem::path dataDir_;
  std::filesystem::path packageDir_;
  std::shared_ptr<const PackageTrust> packageTrust_;
  Task task_;
  RadioManager manager_;
  Config config_;
  WindowHandle raiseWindow_ = kNoWindow;
  std::unique_ptr<SingleInstance> instance_;
};

}  // namespace orvik
