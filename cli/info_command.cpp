#include "cli/info_command.h"

#include <iomanip>

#include "cli/exit_codes.h"
#include "cli/report.h"
#include "exec/radio_manager.h"

namespace orvik {
namespace {

void printField(std::ostream& out, const char* name, const std::optional<std::string>& text) {
  out << std::left << std::setw(18) << name << (text ? *text : std::string()) << '\n';
}

}  // namespace

int runInfoCommand(RadioManager& manager, std::ostream& out, std::ostream& err) {
  RadioInfo& radio = *manager.radioInfo();
  if (!manager.connect(true)) {
    reportFailure(err, "Failed to connect radio.");
    return kExitRadioFailure;
  }
  // Ask the cable again which mode it is in: only the programming mode reaches the radio.
  USBSerial& port = radio.port();
  port.setBaudRate(TOVR::kProbeBaudRate);
  const int mode = radio.engine().probeCableMode();
  port.setBaudRate(TOVR::kLinkBaudRate);
  int code = kExitOk;
  if (mode == TOVR::kProbeEcho) {
    reportFailure(err, "Please toggle the USB cable to DIGITAL (Flash) mode.");
    code = kExitRadioFailure;
  } else if (mode == TOVR::kProbeUndecided) {
    reportFailure(err, "The USB cable is unsupported.");
    code = kExitRadioFailure;
  } else if (!radio.readIdentity()) {
    reportFailure(err, "Failed to connect radio.");
    code = kExitRadioFailure;
  }
  manager.disconnect();
  if (code != kExitOk) {
    return code;
  }
  printField(out, "Model:", RadioInfo::modelText(radio.modelNumber));
  printField(out, "Region:", RadioInfo::regionText(radio.regionCode));
  printField(out, "Serial number:", RadioInfo::serialText(radio.serialBytes()));
  printField(out, "Firmware:", RadioInfo::versionRecordText(radio.firmwareVersionRecord));
  printField(out, "Codeplug:", RadioInfo::versionRecordText(radio.codeplugVersionRecord));
  printField(out, "Keypad firmware:", RadioInfo::versionRecordText(radio.keypadVersionRecord));
  printField(out, "User private ID:", RadioInfo::privateIdText(radio.privateId));
  return kExitOk;
}

}  // namespace orvik
