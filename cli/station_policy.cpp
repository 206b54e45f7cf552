#include "cli/station_policy.h"

namespace orvik {

std::optional<StationPolicy> stationPolicyFromName(std::string_view name) {
  for (const StationPolicy policy :
       {StationPolicy::Newer, StationPolicy::Any, StationPolicy::CodeplugOnly}) {
    if (name == stationPolicyName(policy)) {
      return policy;
    }
  }
  return std::nullopt;
}

const char* stationPolicyName(StationPolicy policy) {
  switch (policy) {
    case StationPolicy::Newer:
      return "newer";
    case StationPolicy::Any:
      return "any";
    case StationPolicy::CodeplugOnly:
      return "codeplug-only";
  }
  return "";
}

PolicyDecision decideByPolicy(StationPolicy policy, const UpdateProposal& proposal) {
  if (proposal.completesInterrupted) {
    return {true, {}};
  }
  if (policy == StationPolicy::CodeplugOnly &&
      (proposal.programming == UpdatePlan::Programming::FirmwareAndCodeplug || proposal.keypad)) {
    return {false, "needs firmware; the policy is codeplug-only"};
  }
  if (proposal.downgrade && policy != StationPolicy::Any) {
    return {false, "the package is older than the radio; the policy allows no downgrade"};
  }
  return {true, {}};
}

std::string versionChange(const std::string& before, const std::string& after) {
  if (before == after) {
    return before;
  }
  return (before.empty() ? std::string("?") : before) + " -> " + after;
}

std::string proposalSummary(const UpdateProposal& proposal) {
  if (proposal.completesInterrupted) {
    return "complete the interrupted update";
  }
  std::string text = proposal.keypad ? "keypad" : "";
  const auto add = [&text](const char* part) {
    text += text.empty() ? part : std::string(", ") + part;
  };
  switch (proposal.programming) {
    case UpdatePlan::Programming::FirmwareAndCodeplug:
      add("firmware and codeplug");
      break;
    case UpdatePlan::Programming::Codeplug:
      add("codeplug");
      break;
    case UpdatePlan::Programming::Nothing:
      if (text.empty()) {
        text = "nothing to program";
      }
      break;
  }
  if (proposal.downgrade) {
    text += " (older version)";
  }
  return text;
}

}  // namespace orvik
