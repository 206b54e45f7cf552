// orvik-cli: the update tool's work in a terminal.
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "app/application.h"
#include "app/paths.h"
#include "app/string_table.h"
#include "base/program_version.h"
#include "base/text.h"
#include "cli/console_client.h"
#include "cli/exit_codes.h"
#include "cli/failure_help.h"
#include "cli/interrupt_guard.h"
#include "cli/station.h"
#include "cli/station_report.h"
#include "cli/station_worker.h"
#include "cli/terminal_view.h"
#include "commands/update_journal.h"
#include "errors/error_log.h"
#include "frontend/controller_wiring.h"
#include "frontend/front_end_options.h"
#include "frontend/radio_session.h"
#include "package/signed_package.h"
#include "workflow/console_server.h"
#include "workflow/main_controller.h"
#include "workflow/update_history.h"

namespace orvik {
namespace {

std::atomic<bool> stopRequested{false};

struct Labelled {
  const char* label;
  const std::string* value;
};

std::vector<Labelled> panelFields(const RadioPanel& panel) {
  return {{"Radio Type", &panel.radioType},
          {"Regional Code", &panel.regionalCode},
          {"Model", &panel.model},
          {"Serial Number", &panel.serialNumber},
          {"Firmware Version", &panel.firmwareVersion},
          {"Keypad Version", &panel.keypadVersion},
          {"Codeplug Version", &panel.codeplugVersion},
          {"Unit Private ID", &panel.privateId}};
}

constexpr const char* kUpdateCancelled = "Update cancelled; the radio was not changed.";
constexpr const char* kRestoreCancelled = "Restore cancelled; the radio was not changed.";
constexpr const char* kCancelledAfterKeypad =
    "Update cancelled; the keypad firmware was updated, the firmware and the codeplug were not "
    "changed.";

std::string jsonOrNull(const std::string& text) {
  return text.empty() ? "null" : jsonString(text);
}

std::string versionsJson(const std::string& firmware, const std::string& codeplug,
                         const std::string& keypad, const std::string& serial) {
  return "{\"Firmware Version\":" + jsonOrNull(firmware) +
         ",\"Codeplug Version\":" + jsonOrNull(codeplug) +
         ",\"Keypad Version\":" + jsonOrNull(keypad) + ",\"Serial Number\":" + jsonOrNull(serial) +
         "}";
}

// What an update did: the versions before and after, the personality backup and the lines of
// its failure report.
void printUpdateJson(std::ostream& out, const UpdateRecord& record) {
  out << ",\"Before\":"
      << versionsJson(record.firmwareBefore, record.codeplugBefore, record.keypadBefore,
                      record.serialBefore)
      << ",\"After\":"
      << versionsJson(record.firmwareAfter, record.codeplugAfter, record.keypadAfter,
                      record.serialAfter)
      << ",\"Personality Backup\":" << jsonOrNull(record.backupFile.string())
      << ",\"Failure Lines\":[";
  std::istringstream lines(record.errorLines);
  std::string line;
  bool first = true;
  while (std::getline(lines, line)) {
    if (!line.empty()) {
      out << (first ? "" : ",") << jsonString(line);
      first = false;
    }
  }
  out << ']';
}

// Prints the panel and the result of the action; returns the exit status it stands for. A
// question answered No ends the action before the radio is changed: that is all it says.
int printResult(const MainController& controller, const TerminalView& view, bool json,
                bool updating, std::uint64_t loggedBefore, const std::string& packageSigner = {}) {
  const ActionOutcome& outcome = controller.lastOutcome();
  const int status = outcome.cancelled || view.declined()
                         ? kExitDeclined
                         : (outcome.style == kStyleInformation ? kExitOk : kExitRadioFailure);
  if (outcome.cancelled) {
    const char* text = !updating                                ? kRestoreCancelled
                       : controller.keypadUpdatedBeforeCancel() ? kCancelledAfterKeypad
                                                                : kUpdateCancelled;
    if (json) {
      std::cout << "{\"Result\":" << jsonString(text)
                << ",\"Style\":" << jsonString(outcomeStyleName(outcome)) << ",\"Exit\":" << status
                << "}\n";
    } else {
      std::cout << text << '\n';
    }
    return status;
  }
  if (json) {
    std::cout << '{';
    for (const Labelled& field : panelFields(controller.panel())) {
      std::cout << jsonString(field.label) << ':' << jsonString(*field.value) << ',';
    }
    if (!packageSigner.empty()) {
      std::cout << "\"Update Package\":" << jsonString(packageSigner) << ',';
    }
    std::cout << "\"Result\":" << jsonString(outcome.text)
              << ",\"Style\":" << jsonString(outcomeStyleName(outcome));
    if (updating && controller.lastUpdate()) {
      printUpdateJson(std::cout, *controller.lastUpdate());
    }
    std::cout << ",\"Exit\":" << status << "}\n";
  } else {
    for (const Labelled& field : panelFields(controller.panel())) {
      // The fields come from the radio.
      std::cout << field.label << ": " << printableText(*field.value) << '\n';
    }
    if (!packageSigner.empty()) {
      // Who signed the package the radio would be updated from, or "not signed".
      std::cout << "Update Package: " << printableText(packageSigner) << '\n';
    }
    if (!outcome.text.empty()) {
      // The result may quote the radio's texts or a file's name.
      std::cout << printableLines(outcome.text) << '\n';
    }
  }
  if (status == kExitRadioFailure) {
    printFailureHelp(outcome, loggedBefore, std::cerr);
  }
  return status;
}

// The history and the unfinished updates as one object.
void printHistoryJson(std::ostream& out, const std::filesystem::path& folder) {
  out << "{\"History\":[";
  bool first = true;
  for (const std::string& line : readHistoryLines(historyPath(folder))) {
    out << (first ? "" : ",") << line;
    first = false;
  }
  out << "],\"Unfinished\":[";
  first = true;
  for (const UpdateJournal::Listed& listed : UpdateJournal(journalFolder(folder)).list()) {
    if (listed.entry && listed.entry->finished) {
      continue;
    }
    out << (first ? "" : ",") << "{\"File\":" << jsonString(listed.path.string());
    first = false;
    if (listed.entry) {
      const JournalEntry& entry = *listed.entry;
      out << ",\"Serial Number\":" << jsonString(entry.serial)
          << ",\"Model\":" << jsonString(entry.model)
          << ",\"Started\":" << jsonString(entry.started)
          << ",\"Stopped While\":" << jsonString(entry.stage) << ",\"Personality Backup\":"
          << jsonOrNull(entry.keepPersonality ? entry.backupFile.string() : std::string());
    } else {
      out << ",\"Damaged\":" << jsonString(listed.reason);
    }
    out << '}';
  }
  out << "],\"Exit\":0}\n";
}

void printDealerMode(bool json, bool on, int status) {
  if (json) {
    std::cout << "{\"Dealer Mode\":" << (on ? "true" : "false") << ",\"Exit\":" << status << "}\n";
  } else {
    std::cout << (on ? "Dealer mode is on.\n" : "Dealer mode is off.\n");
  }
}

// A headless station: updates run when a console asks, until the process is told to stop.
// The station's own check of the package its workers will use, against the same keys.
PackageTrust checkStationPackage(const FrontEndOptions& options) {
  const std::filesystem::path base = installDir();
  const std::filesystem::path folder = options.startup.packageDir
                                           ? std::filesystem::path(*options.startup.packageDir)
                                           : base / kPackageFolder;
  std::vector<std::string> problems;
  const std::vector<TrustedKey> keys =
      loadTrustedKeys(trustedKeyFolders(options.trustedKeys, base), problems);
  for (const std::string& problem : problems) {
    std::cerr << problem << '\n';
  }
  return checkPackage(folder, keys);
}

int serve(MainController& controller, const std::filesystem::path& socket) {
  ConsoleServer server;
  if (!listenForConsoles(server, controller, socket)) {
    std::cerr << server.error() << '\n';
    return kExitRadioFailure;
  }
  // An update under way when the station is told to end stops at its next safe point, and
  // its result is recorded before the station ends.
  stopAtSafePointOnInterrupt(controller.programCommand(), stopRequested);
  std::cerr << "Listening on " << socket.string() << '\n' << std::flush;
  while (!stopRequested) {
    currentThreadQueue().waitForMessage(std::chrono::milliseconds(200));
    currentThreadQueue().processPending();
  }
  std::cerr << "Stopped.\n";
  controller.setConsoleChannel(nullptr);
  server.stop();
  return kExitOk;
}

}  // namespace
}  // namespace orvik

int main(int argc, char** argv) {
  using namespace orvik;
  CLI::App app{
      "Orvik Update Tool in a terminal: reads, updates and serialises a radio through the USB "
      "programming cable."};
  // The options of the tool may follow the command too: orvik-cli info --simulate.
  app.fallthrough();
  app.set_version_flag("--version", std::string("orvik-cli ") + kProgramVersion);
  FrontEndOptions options;
  addFrontEndOptions(app, options);
  bool json = false;
  app.add_flag("--json", json, "Print the result as one JSON object");

  auto* cables = app.add_subcommand("cables", "Print the number of attached programming cables");
  cables->footer("Example: orvik-cli cables --json");
  auto* info = app.add_subcommand("info", "Get radio information; print it (the default)");
  info->footer("Example: orvik-cli info --simulate");
  auto* update = app.add_subcommand("update", "The Update workflow");
  bool noKeep = false;
  bool yes = false;
  update->add_flag("--no-keep-personality", noKeep,
                   "Do not back up and restore the radio's personality");
  update->add_flag("--yes", yes, "Answer Yes to every question, as test mode does");
  update->footer("Example: orvik-cli update --simulate --yes");
  auto* serial = app.add_subcommand("serial", "Write a new serial number (only in dealer mode)");
  std::string newSerial;
  serial->add_option("NEW", newSerial, "The new serial number")->required();
  serial->footer("Example: orvik-cli serial 123ABCD5678 --simulate");
  auto* login = app.add_subcommand(
      "login", "Dealer login: asks for the password (not shown as it is typed) and remembers it");
  login->footer("Example: orvik-cli login --simulate");
  auto* logout =
      app.add_subcommand("logout", "Leave dealer mode: the remembered login is forgotten");
  logout->footer("Example: orvik-cli logout --simulate");
  auto* restore = app.add_subcommand("restore-personality",
                                     "Write a personality backup file back to the radio");
  std::string backupFile;
  restore->add_option("FILE", backupFile, "The backup file")->required()->check(CLI::ExistingFile);
  restore->add_flag("--yes", yes, "Answer Yes to the question before the radio is written");
  restore->footer("Example: orvik-cli restore-personality backup/1234ABC5678-20261210-153000.orvp");
  auto* serveCommand = app.add_subcommand(
      "serve",
      "Headless test station: listen on the console socket, run updates on START; questions are "
      "answered Yes only in test mode");
  serveCommand->footer("Example: orvik-cli serve --simulate");
  auto* console = app.add_subcommand("console", "Act as a console client against a running tool");
  std::string consoleAction;
  console
      ->add_option("ACTION", consoleAction,
                   "enter, exit or start; or session: the actions one a line on standard input, "
                   "over one connection (test mode ends when it goes away without exit)")
      ->required()
      ->check(CLI::IsMember({"enter", "exit", "start", "session"}));
  console->footer(
      "Examples: orvik-cli console start\n"
      "          printf 'enter\\nstart\\nexit\\n' | orvik-cli console session");
  auto* history = app.add_subcommand("history", "Print the update history");
  history->footer("Example: orvik-cli history --json");

  auto* station = app.add_subcommand("station", "The update station: many radios at once");
  station->require_subcommand(1);
  auto* stationUpdate = station->add_subcommand(
      "update",
      "Update the radio on every programming cable at once, each in a session of its own");
  std::string stationCables;
  std::vector<std::string> stationPorts;
  std::string policyName;
  bool watch = false;
  std::string reportFile;
  CLI::Option* cablesOption = stationUpdate->add_option(
      "--cables", stationCables, "all: every programming cable attached (the default)");
  cablesOption->check(CLI::IsMember({"all"}));
  stationUpdate
      ->add_option("--port", stationPorts,
                   "Update through this port (any tty or pty) instead; repeat it for more")
      ->excludes(cablesOption);
  stationUpdate
      ->add_option("--policy", policyName,
                   "Answer for each radio instead of asking once for all: newer (update when the "
                   "package is newer), any (downgrades too) or codeplug-only (never firmware)")
      ->check(CLI::IsMember({"newer", "any", "codeplug-only"}));
  stationUpdate->add_flag("--watch", watch,
                          "Keep running: update each radio put on a cable, once; Ctrl-C ends it");
  auto* reportOption = stationUpdate->add_option(
      "--report", reportFile,
      "Write the batch to FILE, CSV or JSON by its extension; FILE must not exist yet");
  bool forceReport = false;
  stationUpdate->add_flag("--force", forceReport, "Replace a file already at the --report name")
      ->needs(reportOption);
  stationUpdate->add_flag("--json", json, "Print newline-delimited JSON events");
  stationUpdate->footer("Example: orvik-cli station update --policy newer --report batch.csv");
  station->footer("Example: orvik-cli station update --policy newer --report batch.csv");

  // One radio of the station, run by the station itself.
  auto* stationWorker = app.add_subcommand("station-worker", "");
  stationWorker->group("");
  std::string workerCable;
  bool workerWatch = false;
  stationWorker->add_option("--cable", workerCable)->required();
  stationWorker->add_flag("--watch", workerWatch);
  app.require_subcommand(0, 1);
  app.footer(
      "Exit status:\n"
      "  0  done; the result is information\n"
      "  1  an error or a warning (details are in the error log)\n"
      "  2  a usage error\n"
      "  3  a question was answered No; the radio was not changed\n"
      "\n"
      "The options may also follow the command. Example: orvik-cli update --simulate");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  const std::filesystem::path socket = options.consoleSocketPath();
  if (console->parsed()) {
    if (consoleAction == "session") {
      return runConsoleSession(socket, std::cin, std::cout, std::cerr, json);
    }
    return runConsoleClient(socket, consoleAction, std::cout, std::cerr, json);
  }
  if (history->parsed()) {
    const auto folder = options.link.simulate ? findSimulatedMachineDataDir(options.startup.dataDir)
                                              : findMachineDataDir(options.startup.dataDir);
    if (!folder) {
      std::cerr << "No per-machine folder: set --data-dir, ORVIK_DATA_DIR or HOME\n";
      return kExitRadioFailure;
    }
    if (json) {
      printHistoryJson(std::cout, *folder);
    } else {
      printHistory(std::cout, readHistory(historyPath(*folder)));
      printUnfinishedUpdates(std::cout, UpdateJournal(journalFolder(*folder)).list());
    }
    return kExitOk;
  }

  if (stationUpdate->parsed()) {
    const auto usage = [](const char* text) {
      std::cerr << text << '\n';
      return kExitUsage;
    };
    if (options.link.simulate) {
      return usage("The station updates radios on cables: give --port PATH for a simulated one.");
    }
    if (options.trace) {
      return usage("--trace follows one cable; use it with orvik-cli update.");
    }
    if (watch && policyName.empty()) {
      return usage("--watch needs a --policy: nobody is there to answer for each radio.");
    }
    if (!reportFile.empty() && !reportFormatFor(reportFile)) {
      return usage("--report: the file must end in .csv or .json.");
    }
    StationOptions stationOptions;
    stationOptions.ports = stationPorts;
    if (options.link.port) {
      stationOptions.ports.insert(stationOptions.ports.begin(), *options.link.port);
    }
    if (!policyName.empty()) {
      stationOptions.policy = stationPolicyFromName(policyName);
    }
    stationOptions.watch = watch;
    stationOptions.json = json;
    if (!reportFile.empty()) {
      stationOptions.report = reportFile;
      stationOptions.forceReport = forceReport;
    }
    std::error_code error;
    stationOptions.program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
      stationOptions.program = argv[0];
    }
    if (options.startup.packageDir) {
      stationOptions.workerOptions.insert(stationOptions.workerOptions.end(),
                                          {"--package", *options.startup.packageDir});
    }
    if (options.trustedKeys) {
      stationOptions.workerOptions.insert(stationOptions.workerOptions.end(),
                                          {"--trusted-keys", *options.trustedKeys});
    }
    if (options.startup.dataDir) {
      stationOptions.workerOptions.insert(stationOptions.workerOptions.end(),
                                          {"--data-dir", *options.startup.dataDir});
    }
    // The package is checked once for the batch, before any worker reads a radio; each worker
    // still uses only the bytes it checked itself.
    const PackageTrust trust = checkStationPackage(options);
    if (trust.refused()) {
      std::cerr << stringText(StringId::FileMissing) << "\n\n" << trust.refusalText() << '\n';
      return kExitRadioFailure;
    }
    if (trust.state == PackageTrust::State::NoKeyUnsigned ||
        trust.state == PackageTrust::State::NoKeySigned) {
      std::cerr << unsignedPackageNotice(trust) << '\n';
    }
    stationOptions.packageSigner = trust.signerText();
    return runStation(stationOptions, std::cin, std::cout, std::cerr);
  }
  if (stationWorker->parsed()) {
    // A station that is gone takes no more events; the update goes on to its end.
    std::signal(SIGPIPE, SIG_IGN);
  }

  RadioSession session(options.link);
  TerminalStartupView startupView(std::cerr);
  Application application(session.driver(), session.clock(), startupView, options.startup);
  application.useTrustedKeys(options.trustedKeys);
  if (!session.start(application, options.startup, options.trace, std::cerr)) {
    return kExitRadioFailure;
  }
  // Said once per run that uses the package (the station said it for its workers).
  const bool usesPackage = !(stationWorker->parsed() || cables->parsed() || login->parsed() ||
                             logout->parsed() || serial->parsed());
  if (const std::string notice = application.unsignedNotice(); !notice.empty() && usesPackage) {
    std::cerr << notice << '\n';
  }
  if (serveCommand->parsed()) {
    if (!application.EnsureSingleInstance()) {
      std::cerr << "Another update tool is running on this machine.\n";
      return kExitRadioFailure;
    }
  } else {
    application.radioManager().stopMonitor();  // nothing listens to it in a one-shot run
  }

  RadioManager& manager = application.radioManager();
  if (stationWorker->parsed()) {
    static std::atomic<bool> workerStop{false};
    StationLink link(STDOUT_FILENO, STDIN_FILENO, &workerStop);
    StationWorkerView workerView(link);
    MainController controller(manager, application.task(), application.config(), workerView);
    // Told to end by itself (a service manager ends every process of the station), a worker
    // ends as a station that said stop: its update stops at the next safe point.
    stopAtSafePointOnInterrupt(controller.programCommand(), workerStop);
    wireController(controller, application, std::cerr);
    controller.initialize();
    return runStationWorker(controller, manager, workerView, link, {workerCable, workerWatch},
                            historyWriter(historyPath(application.dataDir()), std::cerr));
  }
  TerminalView::Options viewOptions;
  viewOptions.answerYes = yes;
  // A test station has nobody to ask: test mode asks nothing, and outside it the answer is No.
  viewOptions.station = serveCommand->parsed();
  viewOptions.progressBar = ::isatty(STDERR_FILENO) == 1;
  viewOptions.passwordTerminal = STDIN_FILENO;
  if (viewOptions.station) {
    viewOptions.onResult = [json](const std::string& text, unsigned style) {
      if (json) {
        std::cout << "{\"Result\":" << jsonString(text) << ",\"Style\":"
                  << jsonString(outcomeStyleName(ActionOutcome{text, style, false})) << "}\n";
      } else {
        std::cout << printableLines(text) << '\n';
      }
      std::cout << std::flush;
    };
  }
  TerminalView view(std::cin, std::cerr, viewOptions);
  MainController controller(manager, application.task(), application.config(), view);
  wireController(controller, application, std::cerr);
  controller.initialize();
  const std::uint64_t loggedBefore = errorLog().linesWritten();

  if (cables->parsed()) {
    int first = -1;
    const int count = manager.radioInfo()->port().countCables(first);
    if (json) {
      std::cout << "{\"Cables\":" << count << ",\"Exit\":" << kExitOk << "}\n";
    } else {
      std::cout << count << '\n';
    }
    return kExitOk;
  }
  if (serveCommand->parsed()) {
    return serve(controller, socket);
  }
  if (login->parsed()) {
    std::string password, saved;
    if (!controller.dealerMode()) {
      if (!application.config().GetDealerPasswords(password, saved)) {
        std::cerr << "This machine has no dealer password.\n";
        return kExitRadioFailure;
      }
      controller.onDealerLogin();
    }
    const int status = controller.dealerMode() ? kExitOk : kExitRadioFailure;
    printDealerMode(json, controller.dealerMode(), status);
    return status;
  }
  if (logout->parsed()) {
    if (!controller.onDealerLogout()) {
      std::cerr << "The login could not be forgotten in " << application.config().loadedPath
                << "; the next start is in dealer mode again.\n";
      printDealerMode(json, false, kExitRadioFailure);
      return kExitRadioFailure;
    }
    printDealerMode(json, false, kExitOk);
    return kExitOk;
  }

  if (update->parsed()) {
    view.setKeepPersonality(!noKeep);
    guardUpdateAgainstInterrupt(controller.programCommand(), viewOptions.progressBar);
    controller.onUpdate();
  } else if (serial->parsed()) {
    if (!controller.dealerMode()) {
      std::cerr << "Writing a serial number needs a dealer login first (orvik-cli login).\n";
      return kExitRadioFailure;
    }
    view.setTypedSerialNumber(newSerial);
    controller.onUpdateSerialNumber();
  } else if (restore->parsed()) {
    guardRestoreAgainstInterrupt(controller.restoreCommand(), viewOptions.progressBar);
    controller.onRestorePersonality(backupFile);
  } else {
    controller.onGetRadioInfo();
    return printResult(
        controller, view, json, false, loggedBefore,
        application.packageTrust() ? application.packageTrust()->signerText() : std::string());
  }
  return printResult(controller, view, json, update->parsed(), loggedBefore);
}
