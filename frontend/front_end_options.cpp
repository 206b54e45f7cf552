#include "frontend/front_end_options.h"

#include "workflow/console_server.h"

namespace orvik {

std::filesystem::path FrontEndOptions::consoleSocketPath() const {
  return consoleSocket ? std::filesystem::path(*consoleSocket) : ConsoleServer::defaultSocketPath();
}

void addFrontEndOptions(CLI::App& app, FrontEndOptions& options) {
  CLI::Option* simulate = app.add_flag("--simulate", options.link.simulate,
                                       "Use the built-in simulated radio (with the demo package "
                                       "unless --package is given)");
  app.add_option("--port", options.link.port,
                 "Use the serial device PATH (any tty or pty) as the one programming cable")
      ->excludes(simulate);
  app.add_option("--package", options.startup.packageDir,
                 "The update package folder (default: <executable's folder>/../data)");
  app.add_option("--data-dir", options.startup.dataDir,
                 "The per-machine folder: data/setup.dat and log/err.log (also ORVIK_DATA_DIR)");
  app.add_option("--trusted-keys", options.trustedKeys,
                 "The folder of trusted public keys (.pub) for this run, instead of "
                 "/etc/orvik-update-tool/keys and the installation's keys/ (also "
                 "ORVIK_TRUSTED_KEYS)");
  app.add_flag("--trace", options.trace, "Write every frame sent and received to log/trace.log");
  app.add_option("--console-socket", options.consoleSocket,
                 "The console protocol's socket (default: LACR.console in the user's own folder "
                 "orvik-update-tool-<uid> of $XDG_RUNTIME_DIR or /tmp)");
}

}  // namespace orvik
