#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "workflow/main_view.h"

namespace orvik {

// How the update station answers the question before each radio's update, in place of a
// person. Without one the station asks once for the whole batch.
enum class StationPolicy {
  Newer,         // update when the package is newer; no downgrades
  Any,           // also take radios back to older versions
  CodeplugOnly,  // program codeplugs only: never firmware, the keypad's included
};

std::optional<StationPolicy> stationPolicyFromName(std::string_view name);
const char* stationPolicyName(StationPolicy policy);

struct PolicyDecision {
  bool go = false;
  // Why the radio is left as it is, for the report; empty with go.
  std::string reason;
};

// Whether the policy lets an update go ahead on the radio. Completing an interrupted update is
// always let through: the radio may hold erased flash, and its owner's personality waits in
// the backup taken before that update.
PolicyDecision decideByPolicy(StationPolicy policy, const UpdateProposal& proposal);

// "R01.02.03 -> R01.03.00", or the one version when it stays.
std::string versionChange(const std::string& before, const std::string& after);

// What the update does to the radio, in a few words: "firmware and codeplug", "codeplug",
// "keypad, codeplug", "nothing (up to date)", "complete the interrupted update", plus
// "(older version)" for a downgrade.
std::string proposalSummary(const UpdateProposal& proposal);

}  // namespace orvik
