// orvik-cli: the update tool's work in a terminal.
#include <CLI/CLI.hpp>

#include <iostream>

#include "app/paths.h"
#include "cli/exit_codes.h"
#include "cli/info_command.h"
#include "cli/radio_session.h"
#include "errors/error_log.h"
#include "exec/radio_manager.h"
#include "link/frame_trace.h"

int main(int argc, char** argv) {
  using namespace orvik;
  CLI::App app{
      "Orvik Update Tool in a terminal: reads and updates a radio through the USB "
      "programming cable."};
  app.set_version_flag("--version", "orvik-cli 0.1");
  LinkChoice link;
  std::optional<std::string> dataDir;
  bool trace = false;
  auto* simulate = app.add_flag("--simulate", link.simulate,
                                "Use the built-in simulated radio instead of a cable");
  app.add_option("--port", link.port,
                 "Use this tty or pty as the one programming cable (also ORVIK_PORT)")
      ->excludes(simulate);
  app.add_option("--data-dir", dataDir,
                 "Per-machine folder for the error log (also ORVIK_DATA_DIR; default "
                 "$XDG_DATA_HOME/Corvane Solutions/Orvik Update Tool)");
  app.add_flag("--trace", trace, "Write every frame sent and received to log/trace.log");
  app.add_subcommand("info", "Read and show the radio's identity (the default)");
  app.require_subcommand(0, 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  errorLog().setLogDirectory(machineDataDir(dataDir).string());
  RadioSession session(link);
  RadioManager manager(session.driver(), session.clock());
  RadioInfo& radio = *manager.radioInfo();
  FrameTrace frameTrace;
  if (trace) {
    if (frameTrace.enable(defaultTracePath())) {
      radio.engine().setTrace(&frameTrace);
    } else {
      std::cerr << "Cannot write the frame trace to " << defaultTracePath() << '\n';
    }
  }
  return runInfoCommand(manager, std::cout, std::cerr);
}
