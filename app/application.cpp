#include "app/application.h"

#include <cstring>
#include <system_error>
#include <vector>

#include "app/paths.h"
#include "app/string_table.h"
#include "base/file_replace.h"
#include "base/private_files.h"
#include "base/text.h"
#include "errors/error_log.h"
#include "errors/error_text.h"
#include "package/file_bytes.h"

namespace orvik {
namespace {

// Letter case is ignored for ASCII only, whatever the process locale says.
bool sameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string instanceName() {
  return std::string(kInstanceNamePrefix) + kToolRegionCode;
}

Application::Application(CableDriver& driver, Clock& clock, StartupView& view,
                         StartupOptions options)
    : view_(view), options_(std::move(options)), manager_(driver, clock) {}

Application::~Application() {
  exitInstance();
}

bool Application::startUp() {
  return PrepareEnvironment() && LoadSettings() && EnsureSingleInstance();
}

std::filesystem::path Application::configPath() const {
  return packageDir_ / kConfigFileName;
}

std::filesystem::path Application::setupPath() const {
  return dataDir_ / kPackageFolder / kSetupFileName;
}

std::filesystem::path Application::installedSetupPath() const {
  return packageDir_ / kSetupFileName;
}

bool Application::PrepareEnvironment() {
  title_ = truncateUtf8(stringText(StringId::ProductName) + " " + stringText(StringId::UpdateTool),
                        kMaxTitleChars);
  baseDir_ = installDir();
  packageDir_ = options_.packageDir && !options_.packageDir->empty()
                    ? std::filesystem::path(*options_.packageDir)
                    : baseDir_ / (demoPackage_ ? kDemoPackageFolder : kPackageFolder);

  const std::optional<std::filesystem::path> machine =
      simulatedMachine_ ? findSimulatedMachineDataDir(options_.dataDir)
                        : findMachineDataDir(options_.dataDir);
  if (!machine) {
    // The log has no folder yet, so in a real run this line reaches no file.
    errorLog().logLine(
        "Error:Failed to retrieve the common application data path due to the error [%s].",
        "neither HOME nor XDG_DATA_HOME is set");
    return false;
  }
  dataDir_ = *machine;
  // The machine's folders are the user's alone: the setup file holds the dealer password, the
  // trace every frame, the backups and the journal the owners' personalities. One that is not
  // the user's, or that others may write, could hold links that turn the tool's writes against
  // other files, so the tool does not start on it. The per-machine folder itself may be a link
  // the user made; the folders in it may not.
  for (const char* folder : {"", "data", "log", "backup", "journal"}) {
    const bool top = *folder == '\0';
    std::string problem;
    if (!preparePrivateFolder(top ? dataDir_ : dataDir_ / folder, problem, top)) {
      view_.showMessage(problem, StartupView::kErrorStyle);
      folderRefused_ = true;
      return false;
    }
  }
  errorLog().setLogDirectory(dataDir_.string());

  // The locale stays "C": paths are UTF-8 throughout, and the user's locale would change how
  // numbers are formatted in the log and on the wire. There is no COM to initialise either;
  // the XML document needs no per-thread set-up.

  // The windows belong to the calling thread, so their messages are handled on it.
  if (task_.create() == kNoWindow || manager_.create() == kNoWindow ||
      !CreateXmlDocument(config_.xmlDocument)) {
    errorLog().logLine("Error:failed to initialize component.");
    return false;
  }
  return true;
}

Application::SetupCopy Application::takeInstalledSetup(const std::filesystem::path& installed,
                                                       std::string& error) {
  installedSetupLookedFor_ = installed;
  std::error_code ec;
  if (std::filesystem::exists(setupPath(), ec)) {
    return SetupCopy::Present;
  }
  std::vector<std::uint8_t> bytes;
  switch (readWholeFile(installed, bytes, kMaxConfigFileSize)) {
    case FileReadResult::Ok:
      break;
    case FileReadResult::OpenFailed:
      if (!std::filesystem::exists(installed, ec)) {
        return SetupCopy::NoneInstalled;
      }
      [[fallthrough]];
    case FileReadResult::ReadFailed:
    case FileReadResult::TooLarge:
      error = "Cannot read the installation's setup file " + installed.string();
      return SetupCopy::Failed;
  }
  int errorNumber = 0;
  switch (createFileWithContents(setupPath(), bytes, errorNumber)) {
    case CreateFileResult::Created:
      return SetupCopy::Copied;
    case CreateFileResult::Exists:
      return SetupCopy::Present;  // another start of the tool was quicker
    case CreateFileResult::Failed:
      break;
  }
  error = "Cannot copy the setup file " + installed.string() + " to " + setupPath().string() +
          ": " + std::strerror(errorNumber);
  return SetupCopy::Failed;
}

std::string Application::settingsProblem(const std::string& firstError) const {
  std::error_code ec;
  if (config_.loadedPath == setupPath().string()) {
    if (!std::filesystem::exists(setupPath(), ec)) {
      std::string text = "The setup file " + setupPath().string() + " is missing.";
      if (installedSetupLookedFor_) {
        text += " The installation has none to copy in " +
                installedSetupLookedFor_->parent_path().string() + ".";
      }
      return text;
    }
    return "The setup file " + setupPath().string() +
           " is damaged or does not belong to the update package in " + packageDir_.string() +
           " (" + firstError + ")";
  }
  if (!std::filesystem::exists(configPath(), ec)) {
    return "The update package's file " + configPath().string() + " is missing.";
  }
  return "The update package in " + packageDir_.string() + " is damaged or incomplete (" +
         firstError + ")";
}

void Application::checkPackageTrust() {
  std::vector<std::filesystem::path> folders = trustedKeyFolders(trustedKeysDir_, baseDir_);
  // The demo key vouches for the installation's demo package, however it was named.
  std::error_code sameError;
  if (std::filesystem::equivalent(packageDir_, baseDir_ / kDemoPackageFolder, sameError)) {
    folders.push_back(baseDir_ / kDemoKeyFolder);
  }
  std::vector<std::string> problems;
  const std::vector<TrustedKey> keys = loadTrustedKeys(folders, problems);
  for (const std::string& problem : problems) {
    errorLog().logText(problem);
  }
  auto trust = std::make_shared<const PackageTrust>(checkPackage(packageDir_, keys));
  holdVerifiedPackage(trust->state == PackageTrust::State::Verified ? trust : nullptr);
  packageTrust_ = std::move(trust);
}

std::string Application::unsignedNotice() const {
  return packageTrust_ ? unsignedPackageNotice(*packageTrust_) : std::string();
}

bool Application::LoadSettings() {
  makeFilePrivate(setupPath());
  checkPackageTrust();
  if (!config_.LoadConfig(configPath().string(), setupPath().string())) {
    const std::string first = firstErrorText();
    // A path in the line may hold a "%", so the line is written as it stands.
    errorLog().logText(first);
    removeErrors(ErrorCategory::OK);
    std::error_code ec;
    if (config_.loadedPath != setupPath().string() && !std::filesystem::exists(configPath(), ec)) {
      // Nothing to re-install: the dealer's package was never put there (an installation
      // comes without one).
      view_.showMessage(noPackageText(), StartupView::kErrorStyle);
    } else {
      showFileProblem(settingsProblem(first));
    }
    return false;
  }
  if (!sameIgnoringCase(config_.regionName, kToolRegionCode)) {
    errorLog().logLine("Error:invalid config file.The the applicatio only supportes region [%s]",
                       kToolRegionCode);
    showFileProblem("The update package in " + packageDir_.string() + " is made for region " +
                    config_.regionName + ", not " + kToolRegionCode + ".");
    return false;
  }
  return true;
}

std::string Application::noPackageText() const {
  const std::string folder = packageDir_.string();
  const bool named = options_.packageDir && !options_.packageDir->empty();
  return (named ? "No update package in " + folder +
                      ": its config.xml is missing.\n"
                      "Name the folder that holds the update package from your dealer with "
                      "--package DIR.\n"
                : "No update package is installed: " + folder +
                      " holds no config.xml.\n"
                      "Copy the update package from your dealer (config.xml and its files) "
                      "into " +
                      folder + ", or name its folder with --package DIR.\n") +
         "To try the tool on a simulated radio, start it with --simulate (on the desktop: " +
         kSimulatedEntryName + ").";
}

void Application::showFileProblem(const std::string& problem) {
  view_.showMessage(stringText(StringId::FileMissing) + "\n\n" + problem, StartupView::kErrorStyle);
}

bool Application::EnsureSingleInstance() {
  // The window exists before the lock is taken, since a request may come at once.
  if (raiseWindow_ == kNoWindow) {
    raiseWindow_ = createMessageWindow([this](const Message& message) {
      if (message.message == MSG_RAISE_WINDOW) {
        view_.raiseWindow();
      }
    });
  }
  const WindowHandle window = raiseWindow_;
  instance_ = std::make_unique<SingleInstance>();
  const SingleInstance::State state =
      instance_->acquire(instanceRuntimeDir(options_.runtimeDir), instanceName(),
                         [window] { postMessage(window, MSG_RAISE_WINDOW, 0, 0); });
  switch (state) {
    case SingleInstance::State::Owner:
      return true;
    case SingleInstance::State::OtherRunning:
      // Whether the request reached the other instance or not, this start ends here.
      instance_->askOwnerToRaise();
      return false;
    case SingleInstance::State::None:
    case SingleInstance::State::Failed:
      break;
  }
  errorLog().logLine("Error:failed to create mutex.");
  return false;
}

void Application::exitInstance() {
  config_.xmlDocument.reset();
  manager_.stopMonitor();
  // The listener goes before the window it posts to.
  instance_.reset();
  if (raiseWindow_ != kNoWindow) {
    destroyMessageWindow(raiseWindow_);
    raiseWindow_ = kNoWindow;
  }
}

}  // namespace orvik
