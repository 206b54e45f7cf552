#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/string_id.h"
#include "workflow/versions.h"

namespace orvik {

class Config;
class RadioInfo;

// The codeplug block an update programs, by its name in the configuration.
inline constexpr const char* kDefaultCodeplugBlock = "DEF";

// The versions the tool's package offers for one radio model, as the configuration lists
// them.
struct ToolVersions {
  // Upper case; empty when the package has no firmware.
  std::string firmware;
  // Upper case; empty without firmware, since such a package cannot update a radio.
  std::string keypad;
  // The default codeplug block's last version of each family: even minor numbers (the new
  // family) and odd ones (the old family); empty when the list has none.
  std::string codeplugNew;
  std::string codeplugOld;
  // The last version of the list that parsed.
  std::optional<VersionTriple> codeplugLast;
};

// The versions (and the serial number) the radio reported when it was identified; empty
// texts where it reported none.
struct RadioVersions {
  std::string firmware;
  std::string keypad;
  std::string codeplug;
  std::string serial;
};

ToolVersions readToolVersions(Config& config, const std::string& model);
RadioVersions readRadioVersions(const RadioInfo& radio);

// What an update of one radio does, decided from the versions alone: which versions are not
// usable, whether the keypad is updated, what is programmed, which questions are asked and
// what is shown when there is nothing to program. No I/O and no view.
struct UpdatePlan {
  enum class Programming { Nothing, Codeplug, FirmwareAndCodeplug };

  // The tool's versions that do not parse, each with its line for the error log; each makes
  // the update fail with the "file missing" message.
  std::vector<const char*> toolProblems;
  // The first of the radio's versions that does not parse, with its log line.
  const char* radioProblem = nullptr;

  // Both codeplug families' versions, as programmed: a package with one family serves the
  // other with the same version.
  std::string codeplugNew;
  std::string codeplugOld;
  // The codeplug version the go-ahead question names.
  std::string codeplugShown;

  // The keypad's firmware differs from the tool's: it is updated before anything else.
  bool updateKeypad = false;

  Programming programming = Programming::Nothing;
  // Programming would take the radio back to an older version: the user is asked first.
  bool askDowngrade = false;
  // The tool's codeplug version of the radio's family does not parse (decided only when the
  // firmware is the same), with its log line.
  const char* decisionProblem = nullptr;
  // With nothing to program: the result shown (unless the keypad was updated).
  std::optional<StringId> nothingToProgram;
  // The radio's codeplug is of the new family (even minor number): its files are the new
  // family's.
  bool newCodeplugFamily = false;
  // The major numbers of the radio's and the tool's codeplug versions, which pick the
  // personality blocks.
  std::uint8_t radioCodeplugMajor = 0;
  std::uint8_t toolCodeplugMajor = 0;
};

UpdatePlan planUpdate(const ToolVersions& tool, const RadioVersions& radio);

}  // namespace orvik
