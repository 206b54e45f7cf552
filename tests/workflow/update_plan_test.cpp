// The update's version rules as a plan, from the versions alone: what is programmed, what is
// asked, what is shown, and which versions make the package or the radio unusable.
#include "workflow/update_plan.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace orvik {
namespace {

using Programming = UpdatePlan::Programming;
using Problems = std::vector<std::string>;

ToolVersions tool(const char* firmware, const char* codeplugNew = "R01.04.00",
                  const char* codeplugOld = "R01.03.00", const char* keypad = "R01.00.00") {
  ToolVersions versions;
  versions.firmware = firmware;
  versions.keypad = keypad;
  versions.codeplugNew = codeplugNew;
  versions.codeplugOld = codeplugOld;
  const std::string& last = *codeplugOld != '\0' ? versions.codeplugOld : versions.codeplugNew;
  versions.codeplugLast = parseVersion(last);
  return versions;
}

RadioVersions radio(const char* firmware, const char* codeplug, const char* keypad = "R01.00.00") {
  return RadioVersions{firmware, keypad, codeplug, "1234ABC5678"};
}

TEST(UpdatePlan, VersionsDecideWhatIsProgrammedAndAsked) {
  const struct {
    const char* name;
    ToolVersions tool;
    RadioVersions radio;
    Programming programming;
    bool askDowngrade;
    std::optional<StringId> nothingToProgram;
    bool newFamily;
    int toolCodeplugMajor;
  } cases[] = {
      // Other firmware goes in with the codeplug; the codeplug list's last version picks the
      // personality blocks.
      {"newer firmware", tool("R02.00.00"), radio("R01.05.00", "R01.02.00"),
       Programming::FirmwareAndCodeplug, false, std::nullopt, true, 1},
      {"older firmware asks", tool("R01.04.00"), radio("R01.05.00", "R01.02.00"),
       Programming::FirmwareAndCodeplug, true, std::nullopt, true, 1},
      {"firmware of another letter and a lower major asks", tool("A01.09.00"),
       radio("R02.00.00", "R01.03.00"), Programming::FirmwareAndCodeplug, true, std::nullopt, false,
       1},
      {"firmware of another letter and a higher major does not ask", tool("A03.00.00"),
       radio("R02.00.00", "R01.03.00"), Programming::FirmwareAndCodeplug, false, std::nullopt,
       false, 1},
      // The same firmware: the codeplug of the radio's family (even or odd minor) decides.
      {"newer codeplug of the new family", tool("R01.05.00"), radio("R01.05.00", "R01.02.00"),
       Programming::Codeplug, false, std::nullopt, true, 1},
      {"older codeplug asks", tool("R01.05.00", "R01.02.00", ""), radio("R01.05.00", "R01.04.03"),
       Programming::Codeplug, true, std::nullopt, true, 1},
      {"codeplug of another letter does not ask", tool("R01.05.00", "A01.02.00", ""),
       radio("R01.05.00", "R01.04.03"), Programming::Codeplug, false, std::nullopt, true, 1},
      {"the odd family takes the new family's version in capitals",
       tool("R01.05.00", "r01.04.00", ""), radio("R01.05.00", "R01.03.00"), Programming::Codeplug,
       false, std::nullopt, false, 1},
      {"up to date", tool("R01.05.00"), radio("R01.05.00", "R01.04.00"), Programming::Nothing,
       false, StringId::RadioUpToDate, true, 1},
      {"another codeplug major cannot be updated", tool("R01.05.00", "R02.04.00", ""),
       radio("R01.05.00", "R01.04.00"), Programming::Nothing, false, StringId::VersionsIncompatible,
       true, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const UpdatePlan plan = planUpdate(c.tool, c.radio);
    EXPECT_TRUE(plan.toolProblems.empty());
    EXPECT_EQ(plan.radioProblem, nullptr);
    EXPECT_EQ(plan.decisionProblem, nullptr);
    EXPECT_EQ(plan.programming, c.programming);
    EXPECT_EQ(plan.askDowngrade, c.askDowngrade);
    EXPECT_EQ(plan.nothingToProgram, c.nothingToProgram);
    EXPECT_EQ(plan.newCodeplugFamily, c.newFamily);
    EXPECT_EQ(plan.toolCodeplugMajor, c.toolCodeplugMajor);
    EXPECT_FALSE(plan.updateKeypad);
  }
}

TEST(UpdatePlan, OneCodeplugFamilyServesBoth) {
  const UpdatePlan newOnly = planUpdate(tool("R01.05.00", "r01.04.00", ""), radio("R", "R"));
  EXPECT_EQ(newOnly.codeplugNew, "r01.04.00");
  EXPECT_EQ(newOnly.codeplugOld, "R01.04.00");
  EXPECT_EQ(newOnly.codeplugShown, "R01.04.00");
  // With both families in the package, the new family's version still serves both.
  const UpdatePlan both = planUpdate(tool("R01.05.00", "R01.04.00", "R01.03.00"), radio("R", "R"));
  EXPECT_EQ(both.codeplugOld, "R01.04.00");
  const UpdatePlan oldOnly = planUpdate(tool("R01.05.00", "", "r01.03.00"), radio("R", "R"));
  EXPECT_EQ(oldOnly.codeplugNew, "R01.03.00");
  EXPECT_EQ(oldOnly.codeplugOld, "r01.03.00");
  EXPECT_EQ(oldOnly.codeplugShown, "R01.03.00");
}

TEST(UpdatePlan, UnusableVersionsAreNamedAndNothingIsProgrammed) {
  const struct {
    const char* name;
    ToolVersions tool;
    RadioVersions radio;
    Problems toolProblems;
    const char* radioProblem;
  } cases[] = {
      {"every bad tool version is named",
       tool("R1.5", "", "", "bad"),
       radio("R01.05.00", "R01.04.00"),
       {"The tool CP version is invalid.", "The tool FW version is invalid.",
        "The tool KP version is invalid."},
       nullptr},
      {"a package without firmware has no keypad version either",
       tool("", "R01.04.00", "", ""),
       radio("R01.05.00", "R01.04.00"),
       {"The tool KP version is invalid."},
       nullptr},
      {"only the radio's first bad version is named",
       tool("R01.05.00"),
       radio("R01.5", "x", "y"),
       {},
       "The radio FW version is invalid."},
      {"radio keypad",
       tool("R01.05.00"),
       radio("R01.05.00", "x", "y"),
       {},
       "The radio KP version is invalid."},
      {"radio codeplug",
       tool("R01.05.00"),
       radio("R01.05.00", "R01.04.100"),
       {},
       "The radio CP version is invalid."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const UpdatePlan plan = planUpdate(c.tool, c.radio);
    EXPECT_EQ(Problems(plan.toolProblems.begin(), plan.toolProblems.end()), c.toolProblems);
    EXPECT_STREQ(plan.radioProblem, c.radioProblem);
    EXPECT_EQ(plan.programming, Programming::Nothing);
    EXPECT_FALSE(plan.nothingToProgram);
  }

  // The same firmware and a codeplug of the radio's family that does not parse.
  const UpdatePlan plan = planUpdate(tool("R01.05.00", "", "bad"), radio("R01.05.00", "R01.04.00"));
  EXPECT_STREQ(plan.decisionProblem, "The tool version is invalid.");
  EXPECT_EQ(plan.programming, Programming::Nothing);
}

TEST(UpdatePlan, AKeypadOfAnotherVersionIsUpdatedFirst) {
  EXPECT_TRUE(planUpdate(tool("R01.05.00", "R01.04.00", "", "R01.01.00"),
                         radio("R01.05.00", "R01.04.00", "R01.00.00"))
                  .updateKeypad);
  EXPECT_FALSE(planUpdate(tool("R01.05.00"), radio("R01.05.00", "R01.04.00")).updateKeypad);
}

}  // namespace
}  // namespace orvik
