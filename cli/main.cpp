// orvik-cli: the update tool's work in a terminal.
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>

#include "app/application.h"
#include "app/paths.h"
#include "base/program_version.h"
#include "base/text.h"
#include "cli/console_client.h"
#include "cli/exit_codes.h"
#include "cli/failure_help.h"
#include "cli/interrupt_guard.h"
#include "cli/terminal_view.h"
#include "errors/error_log.h"
#include "frontend/controller_wiring.h"
#include "frontend/front_end_options.h"
#include "frontend/radio_session.h"
#include "workflow/console_server.h"
#include "workflow/main_controller.h"
#include "workflow/update_history.h"

namespace orvik {
namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onStopSignal(int) {
  stopRequested = true;
}

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

// Prints the panel and the result of the action; returns the exit status it stands for.
int printResult(const MainController& controller, const TerminalView& view, bool json,
                std::uint64_t loggedBefore) {
  const ActionOutcome& outcome = controller.lastOutcome();
  const int status = outcome.cancelled || view.declined()
                         ? kExitDeclined
                         : (outcome.style == kStyleInformation ? kExitOk : kExitRadioFailure);
  if (json) {
    std::cout << '{';
    for (const Labelled& field : panelFields(controller.panel())) {
      std::cout << jsonString(field.label) << ':' << jsonString(*field.value) << ',';
    }
    std::cout << "\"Result\":" << jsonString(outcome.text)
              << ",\"Style\":" << jsonString(outcomeStyleName(outcome)) << ",\"Exit\":" << status
              << "}\n";
  } else {
    for (const Labelled& field : panelFields(controller.panel())) {
      // The fields come from the radio.
      std::cout << field.label << ": " << printableText(*field.value) << '\n';
    }
    if (!outcome.text.empty()) {
      std::cout << outcome.text << '\n';
    }
  }
  if (status == kExitRadioFailure) {
    printFailureHelp(outcome, loggedBefore, std::cerr);
  }
  return status;
}

// A headless station: updates run when a console asks, until the process is told to stop.
int serve(MainController& controller, const std::filesystem::path& socket) {
  ConsoleServer server;
  if (!server.listen(socket, [&](ConsoleMessage message, WParam wParam, LParam lParam) {
        return controller.onConsoleMessage(message, wParam, lParam);
      })) {
    std::cerr << server.error() << '\n';
    return kExitRadioFailure;
  }
  controller.setConsoleChannel(&server);
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  std::cerr << "Listening on " << socket.string() << '\n' << std::flush;
  while (!stopRequested) {
    currentThreadQueue().waitForMessage(std::chrono::milliseconds(200));
    currentThreadQueue().processPending();
  }
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
  app.set_version_flag("--version", std::string("orvik-cli ") + kProgramVersion);
  FrontEndOptions options;
  addFrontEndOptions(app, options);
  bool json = false;
  app.add_flag("--json", json, "Print the result as one JSON object");

  auto* cables = app.add_subcommand("cables", "Print the number of attached programming cables");
  app.add_subcommand("info", "Get radio information; print it (the default)");
  auto* update = app.add_subcommand("update", "The Update workflow");
  bool noKeep = false;
  bool yes = false;
  update->add_flag("--no-keep-personality", noKeep,
                   "Do not back up and restore the radio's personality");
  update->add_flag("--yes", yes, "Answer Yes to every question, as test mode does");
  auto* serial = app.add_subcommand("serial", "Write a new serial number (only in dealer mode)");
  std::string newSerial;
  serial->add_option("NEW", newSerial, "The new serial number")->required();
  auto* login = app.add_subcommand("login", "Dealer login: asks for the password and remembers it");
  auto* restore = app.add_subcommand("restore-personality",
                                     "Write a personality backup file back to the radio");
  std::string backupFile;
  restore->add_option("FILE", backupFile, "The backup file")->required()->check(CLI::ExistingFile);
  restore->add_flag("--yes", yes, "Answer Yes to the question before the radio is written");
  auto* serveCommand = app.add_subcommand(
      "serve", "Headless test station: listen on the console socket, run updates on START");
  auto* console = app.add_subcommand("console", "Act as a console client against a running tool");
  std::string consoleAction;
  console->add_option("ACTION", consoleAction, "enter, exit or start")
      ->required()
      ->check(CLI::IsMember({"enter", "exit", "start"}));
  auto* history = app.add_subcommand("history", "Print the update history");
  app.require_subcommand(0, 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  const std::filesystem::path socket = options.consoleSocketPath();
  if (console->parsed()) {
    return runConsoleClient(socket, consoleAction, std::cout, std::cerr);
  }
  if (history->parsed()) {
    const auto folder = findMachineDataDir(options.startup.dataDir);
    if (!folder) {
      std::cerr << "No per-machine folder: set --data-dir, ORVIK_DATA_DIR or HOME\n";
      return kExitRadioFailure;
    }
    printHistory(std::cout, readHistory(historyPath(*folder)));
    printUnfinishedUpdates(std::cout, UpdateJournal(journalFolder(*folder)).list());
    return kExitOk;
  }

  RadioSession session(options.link);
  TerminalStartupView startupView(std::cerr);
  Application application(session.driver(), session.clock(), startupView, options.startup);
  if (!session.start(application, options.startup, options.trace, std::cerr)) {
    return kExitRadioFailure;
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
  TerminalView::Options viewOptions;
  viewOptions.answerYes = yes || serveCommand->parsed();  // a test station has nobody to ask
  viewOptions.progressBar = ::isatty(STDERR_FILENO) == 1;
  TerminalView view(std::cin, std::cerr, viewOptions);
  MainController controller(manager, application.task(), application.config(), view);
  wireController(controller, application, std::cerr);
  controller.initialize();
  const std::uint64_t loggedBefore = errorLog().linesWritten();

  if (cables->parsed()) {
    int first = -1;
    std::cout << manager.radioInfo()->port().countCables(first) << '\n';
    return kExitOk;
  }
  if (serveCommand->parsed()) {
    return serve(controller, socket);
  }
  if (login->parsed()) {
    std::string password, saved;
    if (controller.dealerMode()) {
      std::cout << "Dealer mode is on.\n";
      return kExitOk;
    }
    if (!application.config().GetDealerPasswords(password, saved)) {
      std::cerr << "This machine has no dealer password.\n";
      return kExitRadioFailure;
    }
    controller.onDealerLogin();
    if (!controller.dealerMode()) {
      return kExitRadioFailure;
    }
    std::cout << "Dealer mode is on.\n";
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
    controller.onRestorePersonality(backupFile);
  } else {
    controller.onGetRadioInfo();
  }
  return printResult(controller, view, json, loggedBefore);
}
