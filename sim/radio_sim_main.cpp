// orvik-radio-sim: serves the simulated radio on a pseudo-terminal. The first line of
// stdout is the slave path to open as the cable's port; it serves until SIGINT or SIGTERM.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "base/program_version.h"
#include "base/text.h"
#include "base/version_record.h"
#include "sim/fault_plan.h"
#include "sim/pty_radio_server.h"
#include "sim/radio_setup_text.h"
#include "sim/sim_radio.h"

namespace {

using namespace orvik;

std::atomic<bool> stopRequested{false};

void requestStop(int) {
  stopRequested.store(true);
}

void installSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: poll must return so that the serve loop sees the request.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Only a symbolic link (most likely left by an earlier run) is replaced; anything else at
// the path is left alone.
bool createLink(const std::string& linkPath, const std::string& target, std::string& error) {
  struct stat info {};
  if (lstat(linkPath.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      error = linkPath + " exists and is not a symbolic link";
      return false;
    }
    if (unlink(linkPath.c_str()) != 0) {
      error = "cannot replace " + linkPath + ": " + std::strerror(errno);
      return false;
    }
  }
  if (symlink(target.c_str(), linkPath.c_str()) != 0) {
    error = "cannot create " + linkPath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Removes the link only while it still points at this run's pty.
void removeLink(const std::string& linkPath, const std::string& target) {
  std::vector<char> buffer(target.size() + 2);
  const ssize_t n = readlink(linkPath.c_str(), buffer.data(), buffer.size());
  if (n >= 0 && std::string(buffer.data(), static_cast<std::size_t>(n)) == target) {
    unlink(linkPath.c_str());
  }
}

std::string describe(const LoggedRequest& request, std::optional<FaultKind> fault) {
  constexpr std::size_t kShown = 24;
  const std::span<const std::uint8_t> bytes(request.bytes);
  std::string line = std::string(requestKindName(request.kind)) + ": " +
                     hexDump(bytes.first(std::min(bytes.size(), kShown)));
  if (bytes.size() > kShown) {
    line += formatText(" ... (%zu bytes)", bytes.size());
  }
  if (fault) {
    line += " [fault: " + std::string(faultKindName(*fault)) + "]";
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Serves a simulated radio on a pseudo-terminal; the first line printed is the "
      "port to open."};
  app.set_version_flag("--version", std::string("orvik-radio-sim ") + kProgramVersion);
  bool echo = false;
  bool verbose = false;
  unsigned layout = 1;
  unsigned statusWord = 0;
  unsigned keypadKind = 0;
  int contactCount = 0;
  unsigned lineRate = 0;
  unsigned latencyMs = 0;
  std::string model, serial, firmware, codeplug, keypad, linkPath;
  std::vector<std::string> faults;

  app.add_flag("--echo", echo, "The cable returns every byte written (its other mode)");
  app.add_option("--layout", layout, "Flash layout number told to the PC (default 1)")
      ->check(CLI::Range(0u, 255u));
  app.add_option("--status-word", statusWord, "Status word answered by resets (default 0)")
      ->check(CLI::Range(0u, 0xFFFFu));
  app.add_option("--model", model, "Model number as shown, e.g. LA26CKN9AR1");
  app.add_option("--serial", serial, "Serial number, 1 to 11 characters");
  app.add_option("--firmware", firmware, "Firmware version, e.g. R01.02.03");
  app.add_option("--codeplug", codeplug, "Codeplug version, e.g. R01.02.00");
  app.add_option("--keypad", keypad, "Keypad firmware version, e.g. R01.00.00");
  app.add_option("--keypad-kind", keypadKind, "Keypad kind (default 0)")
      ->check(CLI::Range(0u, 255u));
  app.add_option("--contacts", contactCount, "Number of demo contact records")
      ->check(CLI::Range(0, 200));
  app.add_option("--fault", faults,
                 "KIND:OCCURRENCE:FAULT, e.g. write-flash:3:silence; OCCURRENCE is N, N-M or "
                 "every; FAULT is no-ack, bad-checksum, wrong-opcode, junk, silence, "
                 "disconnect or refuse");
  CLI::Option* lineRateOption =
      app.add_option("--line-rate", lineRate,
                     "Keep the time of a real line: answer a request only once its last byte "
                     "would have arrived, and send the answer's bytes at the line's rate, which "
                     "is the rate the tool set on the port (16406 for the probe, 57600 after "
                     "it), or BAUD where the port tells none")
          ->option_text("BAUD")
          ->check(CLI::Range(300u, 4000000u));
  app.add_option("--latency", latencyMs,
                 "With --line-rate: how long the radio takes to start an answer, in ms "
                 "(default 0)")
      ->option_text("MS")
      ->check(CLI::Range(0u, 10000u))
      ->needs(lineRateOption);
  app.add_option("--link", linkPath, "Also create a symbolic link PATH to the pty");
  app.add_flag("--verbose", verbose, "Log each request to stderr");
  CLI11_PARSE(app, argc, argv);

  SimRadioConfig config;
  config.flashLayout = static_cast<std::uint8_t>(layout);
  config.resetStatusWord = static_cast<std::uint16_t>(statusWord);
  config.keypadKind = static_cast<std::uint8_t>(keypadKind);
  if (!model.empty()) {
    const auto bytes = modelFromText(model);
    if (!bytes) {
      std::cerr << "--model: 1 to 11 letters or digits expected, got '" << model << "'\n";
      return 2;
    }
    config.modelNumber = *bytes;
  }
  if (!serial.empty()) {
    const auto bytes = serialFromText(serial);
    if (!bytes) {
      std::cerr << "--serial: 1 to 11 characters expected\n";
      return 2;
    }
    config.serialNumber = *bytes;
  }
  struct VersionOption {
    const char* name;
    const std::string& text;
    SimVersionRecord& record;
  };
  for (const VersionOption& option : {VersionOption{"--firmware", firmware, config.firmwareVersion},
                                      VersionOption{"--codeplug", codeplug, config.codeplugVersion},
                                      VersionOption{"--keypad", keypad, config.keypadVersion}}) {
    if (option.text.empty()) {
      continue;
    }
    const auto record = parseVersionRecord(option.text);
    if (!record) {
      std::cerr << option.name << ": a version such as R01.02.03 expected, got '" << option.text
                << "'\n";
      return 2;
    }
    option.record = *record;
  }
  FaultPlan plan;
  for (const std::string& text : faults) {
    std::string error;
    const auto rule = parseFaultRule(text, error);
    if (!rule) {
      std::cerr << "--fault " << text << ": " << error << "\n";
      return 2;
    }
    plan.add(*rule);
  }

  SimRadio radio(config);
  radio.setContacts(demoContacts(contactCount));
  radio.setFaultPlan(std::move(plan));
  if (verbose) {
    radio.setRequestObserver([](const LoggedRequest& request, std::optional<FaultKind> fault) {
      std::cerr << describe(request, fault) << std::endl;
    });
  }

  PtyRadioServer server(radio);
  server.setEcho(echo);
  if (lineRate != 0) {
    server.keepLineTime(lineRate, std::chrono::milliseconds(latencyMs));
  }
  if (!server.open()) {
    std::cerr << "cannot create the pseudo-terminal: " << server.error() << "\n";
    return 1;
  }
  if (!linkPath.empty()) {
    std::string error;
    if (!createLink(linkPath, server.slavePath(), error)) {
      std::cerr << "--link: " << error << "\n";
      return 1;
    }
  }
  installSignalHandlers();
  std::cout << server.slavePath() << std::endl;

  server.serve(stopRequested);
  if (server.disconnected()) {
    std::cerr << "the cable was disconnected by a fault; stopping" << std::endl;
  }
  if (!linkPath.empty()) {
    removeLink(linkPath, server.slavePath());
  }
  return 0;
}
