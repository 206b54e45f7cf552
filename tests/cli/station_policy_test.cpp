// How the update station answers for each radio, and the plan as it travels from a worker.
#include "cli/station_policy.h"

#include <gtest/gtest.h>

#include "cli/station_events.h"
#include "workflow/update_history.h"

namespace orvik {
namespace {

using Programming = UpdatePlan::Programming;

UpdateProposal proposal(Programming programming, bool downgrade = false, bool keypad = false,
                        bool interrupted = false) {
  UpdateProposal p;
  p.serial = "1234ABC5678";
  p.programming = programming;
  p.downgrade = downgrade;
  p.keypad = keypad;
  p.completesInterrupted = interrupted;
  return p;
}

TEST(StationPolicyTest, EachPolicyLetsThroughWhatItSays) {
  const struct {
    const char* name;
    UpdateProposal proposal;
    bool newer;
    bool any;
    bool codeplugOnly;
  } cases[] = {
      {"newer firmware", proposal(Programming::FirmwareAndCodeplug), true, true, false},
      {"older firmware", proposal(Programming::FirmwareAndCodeplug, true), false, true, false},
      {"newer codeplug", proposal(Programming::Codeplug), true, true, true},
      {"older codeplug", proposal(Programming::Codeplug, true), false, true, false},
      {"keypad and codeplug", proposal(Programming::Codeplug, false, true), true, true, false},
      // Nothing is written; the update says so itself.
      {"up to date", proposal(Programming::Nothing), true, true, true},
      // The radio may hold erased flash: it is completed whatever the policy.
      {"interrupted firmware update",
       proposal(Programming::FirmwareAndCodeplug, false, false, true), true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto check = [&](StationPolicy policy, bool expected) {
      const PolicyDecision decision = decideByPolicy(policy, c.proposal);
      EXPECT_EQ(decision.go, expected) << stationPolicyName(policy);
      // A radio left alone is always given a reason for the report.
      EXPECT_EQ(decision.reason.empty(), expected) << stationPolicyName(policy);
    };
    check(StationPolicy::Newer, c.newer);
    check(StationPolicy::Any, c.any);
    check(StationPolicy::CodeplugOnly, c.codeplugOnly);
  }
}

TEST(StationPolicyTest, NamesReadBackAndOthersAreRefused) {
  // The names users type after --policy.
  const struct {
    StationPolicy policy;
    std::string_view name;
  } names[] = {{StationPolicy::Newer, "newer"},
               {StationPolicy::Any, "any"},
               {StationPolicy::CodeplugOnly, "codeplug-only"}};
  for (const auto& n : names) {
    EXPECT_EQ(stationPolicyName(n.policy), n.name);
    EXPECT_EQ(stationPolicyFromName(std::string(n.name)), n.policy);
  }
  EXPECT_FALSE(stationPolicyFromName("Newer"));
  EXPECT_FALSE(stationPolicyFromName(""));
}

// The plan crosses from the worker to the station as one event line; what the station decides
// on is what the worker's update would do.
TEST(StationPolicyTest, APlanReadsBackFromItsEventLine) {
  UpdateProposal sent = proposal(Programming::Codeplug, true, true);
  sent.model = "LA26\"CKN9AR1";
  sent.firmwareBefore = "R01.03.00";
  sent.firmwareAfter = "R01.03.00";
  sent.codeplugBefore = "R01.06.00";
  sent.codeplugAfter = "R01.04.00";
  sent.keypadBefore = "R01.00.00";
  sent.keypadAfter = "R01.01.00";
  const std::string line = planEvent(sent);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto fields = parseFlatJson(line);
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->at("event"), station_event::kPlan);
  const UpdateProposal read = proposalFromEvent(*fields);
  EXPECT_EQ(read.serial, sent.serial);
  EXPECT_EQ(read.model, sent.model);
  EXPECT_EQ(read.firmwareBefore, sent.firmwareBefore);
  EXPECT_EQ(read.firmwareAfter, sent.firmwareAfter);
  EXPECT_EQ(read.codeplugBefore, sent.codeplugBefore);
  EXPECT_EQ(read.codeplugAfter, sent.codeplugAfter);
  EXPECT_EQ(read.keypadBefore, sent.keypadBefore);
  EXPECT_EQ(read.keypadAfter, sent.keypadAfter);
  EXPECT_EQ(read.programming, sent.programming);
  EXPECT_EQ(read.downgrade, sent.downgrade);
  EXPECT_EQ(read.keypad, sent.keypad);
  EXPECT_EQ(read.completesInterrupted, sent.completesInterrupted);
  EXPECT_EQ(proposalSummary(read), "keypad, codeplug (older version)");
  EXPECT_EQ(versionChange(read.codeplugBefore, read.codeplugAfter), "R01.06.00 -> R01.04.00");
  EXPECT_EQ(versionChange(read.firmwareBefore, read.firmwareAfter), "R01.03.00");
}

}  // namespace
}  // namespace orvik
