#include <gtest/gtest.h>

#include "sim/fault_plan.h"
#include "sim/radio_setup_text.h"

namespace orvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RadioSetupText, ModelTextBecomesModelBytes) {
  using Model = std::array<std::uint8_t, 11>;
  EXPECT_EQ(modelFromText("LA26CKN9AR1"), (Model{'L', 'A', 2, 6, 'C', 'K', 'N', 9, 'A', 'R', 1}));
  EXPECT_EQ(modelFromText("12A"), (Model{1, 2, 'A', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}));
  for (const char* bad : {"", "LA26CKN9AR12", "LA-26"}) {
    EXPECT_FALSE(modelFromText(bad).has_value()) << bad;
  }
}

TEST(RadioSetupText, SerialTextIsOneToElevenBytes) {
  EXPECT_EQ(serialFromText("987"), (Bytes{'9', '8', '7'}));
  EXPECT_FALSE(serialFromText("").has_value());
  EXPECT_FALSE(serialFromText("123456789012").has_value());
}

TEST(RadioSetupText, DemoContactsGoRoundTheFourKinds) {
  const auto contacts = demoContacts(6);
  ASSERT_EQ(contacts.size(), 6u);
  const std::uint8_t kinds[] = {1, 2, 3, 4, 1, 2};
  for (std::size_t i = 0; i < contacts.size(); ++i) {
    ASSERT_GE(contacts[i].size(), 8u);
    EXPECT_EQ(contacts[i][7], kinds[i]);
  }
  EXPECT_NE(contacts[0], contacts[4]);
}

TEST(FaultRuleText, ParsesKindOccurrenceAndFault) {
  struct Case {
    const char* text;
    RequestKind kind;
    int occurrence;
    int count;
    bool every;
    FaultKind fault;
  };
  const Case cases[] = {
      {"write-flash:3:silence", RequestKind::WriteFlash, 3, 1, false, FaultKind::Silence},
      {"mem-read:2-4:bad-checksum", RequestKind::MemRead, 2, 3, false, FaultKind::BadChecksum},
      {"reset:every:no-ack", RequestKind::Reset, 1, 1, true, FaultKind::NoAcknowledge},
      {"contact-restore:1:junk", RequestKind::ContactRestore, 1, 1, false,
       FaultKind::JunkBeforeFrame},
      {"status-query:5:disconnect", RequestKind::StatusQuery, 5, 1, false, FaultKind::Disconnect},
      {"boot-load:1:wrong-opcode", RequestKind::BootLoad, 1, 1, false, FaultKind::WrongOpcode},
      {"mem-read:3:refuse", RequestKind::MemRead, 3, 1, false, FaultKind::Refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const auto rule = parseFaultRule(c.text, error);
    ASSERT_TRUE(rule.has_value()) << error;
    EXPECT_EQ(rule->kind, c.kind);
    EXPECT_EQ(rule->fault, c.fault);
    EXPECT_EQ(rule->every, c.every);
    if (!c.every) {
      EXPECT_EQ(rule->occurrence, c.occurrence);
      EXPECT_EQ(rule->count, c.count);
    }
  }
}

TEST(FaultRuleText, RefusesMalformedRules) {
  for (const char* bad : {"", "write-flash:3", "write-flash:3:silence:x", "flash:3:silence",
                          "write-flash:0:silence", "write-flash:4-2:silence",
                          "write-flash:x:silence", "write-flash:3:loud", "write-flash::silence"}) {
    std::string error;
    EXPECT_FALSE(parseFaultRule(bad, error).has_value()) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(FaultRuleText, EveryRequestKindNameRoundTrips) {
  for (std::size_t i = 0; i < kRequestKindCount; ++i) {
    const auto kind = static_cast<RequestKind>(i);
    EXPECT_EQ(requestKindFromName(requestKindName(kind)), kind);
  }
}

}  // namespace
}  // namespace orvik
