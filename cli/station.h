#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/station_policy.h"
#include "link/tty_cable_driver.h"

namespace orvik {

struct StationOptions {
  // The ports to update through; none: every programming cable attached.
  std::vector<std::string> ports;
  // How the question before each update is answered; none: the station asks once for all.
  std::optional<StationPolicy> policy;
  // Keep running and update each radio that appears, until told to stop.
  bool watch = false;
  // Newline-delimited JSON events on standard output instead of the table.
  bool json = false;
  // The report of the batch, CSV or JSON by its extension.
  std::optional<std::filesystem::path> report;
  // Replace a file already at the report's name instead of refusing to run.
  bool forceReport = false;
  // The tool run once per cable as the worker (orvik-cli), and the options each worker gets
  // before its subcommand (the package and the per-machine folder).
  std::filesystem::path program;
  std::vector<std::string> workerOptions;
  // Who signed the update package, as the station's own check found it, for the report.
  std::string packageSigner;
  // Where the attached cables are looked for.
  TtyCableDriver::Options cableRoots;
};

// The update station: every radio on every cable at once, each in a worker process of its own
// that runs the whole single-radio update; the station only decides the questions, draws the
// table, writes the report and sums up. Questions go to err and are answered on in. Returns
// the exit status: 0 when every radio was updated or left as the policy wants it, 1 when one
// failed (or there was no cable), 2 when the report file cannot be made (its name is taken
// without forceReport), 3 when the batch was declined.
int runStation(const StationOptions& options, std::istream& in, std::ostream& out,
               std::ostream& err);

}  // namespace orvik
