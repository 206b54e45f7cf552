#include "workflow/update_plan.h"

#include "config/config.h"
#include "exec/radio_info.h"

namespace orvik {
namespace {

bool newFamily(const VersionTriple& version) {
  return version.minor % 2 == 0;
}

// The first letter of a version text: versions of another letter are another line of
// software, whatever their numbers say.
std::string letterOf(const std::string& version) {
  return version.substr(0, 1);
}

// The decision for a radio whose versions all parse.
void decideProgramming(const ToolVersions& tool, const RadioVersions& radio, UpdatePlan& plan) {
  const VersionTriple toolFirmware = *parseVersion(tool.firmware);
  const VersionTriple radioFirmware = *parseVersion(radio.firmware);
  const VersionTriple radioCodeplug = *parseVersion(radio.codeplug);
  plan.newCodeplugFamily = newFamily(radioCodeplug);
  plan.radioCodeplugMajor = radioCodeplug.major;
  plan.toolCodeplugMajor = tool.codeplugLast ? tool.codeplugLast->major : 0;

  // Other firmware: it goes in with the codeplug; an older major number of the same line, or
  // an older version, only when the user agrees.
  if (letterOf(tool.firmware) != letterOf(radio.firmware)) {
    plan.programming = UpdatePlan::Programming::FirmwareAndCodeplug;
    plan.askDowngrade = toolFirmware.major < radioFirmware.major;
    return;
  }
  if (tool.firmware != radio.firmware) {
    plan.programming = UpdatePlan::Programming::FirmwareAndCodeplug;
    plan.askDowngrade = compareVersions(toolFirmware, radioFirmware) < 0;
    return;
  }

  // The same firmware: the codeplug of the radio's own family decides.
  const std::string& family = plan.newCodeplugFamily ? plan.codeplugNew : plan.codeplugOld;
  const std::optional<VersionTriple> toolCodeplug = parseVersion(family);
  if (!toolCodeplug) {
    plan.decisionProblem = "The tool version is invalid.";
    return;
  }
  plan.toolCodeplugMajor = toolCodeplug->major;
  if (toolCodeplug->major == radioCodeplug.major && family != radio.codeplug) {
    plan.programming = UpdatePlan::Programming::Codeplug;
    plan.askDowngrade = letterOf(family) == letterOf(radio.codeplug) &&
                        compareVersions(*toolCodeplug, radioCodeplug) < 0;
    return;
  }
  // Up to date, or a codeplug of another major number, which this tool cannot convert.
  plan.nothingToProgram = toolCodeplug->major == radioCodeplug.major
                              ? StringId::RadioUpToDate
                              : StringId::VersionsIncompatible;
}

}  // namespace

ToolVersions readToolVersions(Config& config, const std::string& model) {
  const VersionFamilies codeplug = pickFamilies([&](std::string& version) {
    return config.NextBlockVersion(version, model, kDefaultCodeplugBlock);
  });
  ToolVersions tool;
  tool.codeplugNew = codeplug.newVersion;
  tool.codeplugOld = codeplug.oldVersion;
  tool.codeplugLast = codeplug.lastParsed;
  if (!config.firmwareFile.empty()) {
    tool.firmware = upperCase(config.firmwareVersion);
  }
  if (!tool.firmware.empty()) {
    tool.keypad = upperCase(config.keypadVersion);
  }
  return tool;
}

RadioVersions readRadioVersions(const RadioInfo& radio) {
  return RadioVersions{
      RadioInfo::versionRecordText(radio.firmwareVersionRecord).value_or(""),
      RadioInfo::versionRecordText(radio.keypadVersionRecord).value_or(""),
      RadioInfo::versionRecordText(radio.codeplugVersionRecord).value_or(""),
      RadioInfo::serialText(radio.serialBytes()).value_or(""),
  };
}

UpdatePlan planUpdate(const ToolVersions& tool, const RadioVersions& radio) {
  UpdatePlan plan;
  // A package with one codeplug family serves both with its version.
  if (!tool.codeplugNew.empty()) {
    plan.codeplugNew = tool.codeplugNew;
    plan.codeplugOld = upperCase(tool.codeplugNew);
    plan.codeplugShown = plan.codeplugOld;
  } else if (!tool.codeplugOld.empty()) {
    plan.codeplugNew = upperCase(tool.codeplugOld);
    plan.codeplugOld = tool.codeplugOld;
    plan.codeplugShown = plan.codeplugNew;
  } else {
    plan.toolProblems.push_back("The tool CP version is invalid.");
  }
  // Every bad version of the tool is named, not only the first.
  if (!tool.firmware.empty() && !parseVersion(tool.firmware)) {
    plan.toolProblems.push_back("The tool FW version is invalid.");
  }
  if (!parseVersion(tool.keypad)) {
    plan.toolProblems.push_back("The tool KP version is invalid.");
  }

  if (!parseVersion(radio.firmware)) {
    plan.radioProblem = "The radio FW version is invalid.";
  } else if (!parseVersion(radio.keypad)) {
    plan.radioProblem = "The radio KP version is invalid.";
  } else if (!parseVersion(radio.codeplug)) {
    plan.radioProblem = "The radio CP version is invalid.";
  }

  plan.updateKeypad = tool.keypad != radio.keypad;
  if (plan.toolProblems.empty() && plan.radioProblem == nullptr) {
    decideProgramming(tool, radio, plan);
  }
  return plan;
}

}  // namespace orvik
