// The identity read against answers a well-behaved radio would never give: too short to carry an
// item, or longer than the field it fills.
#include <gtest/gtest.h>

#include <deque>

#include "exec/radio_info.h"
#include "link/tovr_frame.h"
#include "tests/support/error_text_fixture.h"
#include "tests/support/scripted_cable_driver.h"

namespace orvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RadioIdentityTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    ASSERT_TRUE(info.openCable(0));
    driver.responder = [this](std::span<const std::uint8_t>) {
      if (!answers.empty()) {
        driver.arrive(answers.front());
        answers.pop_front();
      }
    };
  }

  // One answer per identity item, in the order the read asks for them: five queries, the
  // parameter read of the private ID, the serial-number query.
  void answerItems(const std::vector<Bytes>& payloads) {
    for (std::size_t i = 0; i < payloads.size(); ++i) {
      Bytes bytes = longFrame(i == 5 ? kParameterReadAnswer : kQueryAnswer, payloads[i]);
      bytes.insert(bytes.begin(), kAcknowledge);
      answers.push_back(bytes);
    }
  }

  static constexpr std::uint8_t kQueryAnswer = 0xA3;
  static constexpr std::uint8_t kParameterReadAnswer = 0x8A;

  VirtualClock clock;
  testing::ScriptedCableDriver driver{clock};
  RadioInfo info{driver, clock};
  std::deque<Bytes> answers;
};

Bytes item(std::uint8_t type, Bytes data) {
  data.insert(data.begin(), {type, 0});
  return data;
}

TEST_F(RadioIdentityTest, AnswersTooShortToCarryAnItemStoreNothing) {
  info.serialNumber.fill('9');
  info.modelNumber.fill(7);
  info.privateId.fill(5);
  info.firmwareVersionRecord = {'R', 9, 9, 9};
  info.keypadKind = 3;
  answerItems({{0x0D}, {0x00}, {0x03}, {0x08}, {0x04}, {0x01}, {0x01}});
  EXPECT_TRUE(info.readIdentity());
  EXPECT_EQ(info.keypadKind, 3);
  EXPECT_EQ(info.modelNumber[0], 7);
  EXPECT_EQ(info.regionCode, -1);
  EXPECT_EQ(info.firmwareVersionRecord, (RadioInfo::VersionRecord{'R', 9, 9, 9}));
  EXPECT_EQ(info.privateId[0], 5);
  EXPECT_EQ(info.serialLength, 11);
  EXPECT_EQ(info.serialNumber[10], '9');
}

TEST_F(RadioIdentityTest, LongAnswersFillNoMoreThanTheirFields) {
  const Bytes longData(200, 'Z');
  answerItems({item(0x0D, {1}), item(0x00, longData), item(0x03, {'r', 1, 2, 3, 4, 5}),
               item(0x08, {'r', 1, 0, 0}), item(0x04, {'r', 1, 2, 0}), item(0x20, longData),
               item(0x01, longData)});
  EXPECT_TRUE(info.readIdentity());
  EXPECT_EQ(info.keypadKind, 1);
  EXPECT_EQ(RadioInfo::modelText(info.modelNumber), "ZZZZZZZZZZZ");
  EXPECT_EQ(info.regionCode, 1);
  EXPECT_EQ(RadioInfo::versionRecordText(info.firmwareVersionRecord), "R01.02.03");
  EXPECT_EQ(info.privateId, (std::array<std::uint8_t, 12>{'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z',
                                                          'Z', 'Z', 'Z', 'Z'}));
  EXPECT_EQ(info.serialLength, 11);
  EXPECT_EQ(RadioInfo::serialText(info.serialBytes()), "ZZZZZZZZZZZ");
}

TEST_F(RadioIdentityTest, ShortSerialNumberSetsItsLength) {
  answerItems({item(0x0D, {0}), item(0x00, Bytes(11, 1)), item(0x03, {'r', 1, 2, 3}),
               item(0x08, {'r', 1, 0, 0}), item(0x04, {'r', 1, 2, 0}), item(0x20, Bytes(12, 0)),
               item(0x01, {'A', 'B', 'C'})});
  info.serialNumber.fill('9');
  EXPECT_TRUE(info.readIdentity());
  EXPECT_EQ(info.serialLength, 3);
  EXPECT_EQ(RadioInfo::serialText(info.serialBytes()), "ABC");
  EXPECT_EQ(info.serialNumber[3], 0);  // the rest of an earlier number is gone
}

}  // namespace
}  // namespace orvik
