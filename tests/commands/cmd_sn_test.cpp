// CmdSN against the simulated radio, in process: the radio's end state, the requests in
// order, the fixed waits on the virtual clock and the command's news.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "commands/cmd_sn.h"
#include "exec/radio_manager.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Kinds = std::vector<RequestKind>;
using Waits = std::vector<std::chrono::milliseconds>;
using testing::errorLines;

const Bytes kOldSerial = {'1', '2', '3', '4', 'A', 'B', 'C', '5', '6', '7', '8'};
const Bytes kNewSerial = {'9', '8', '7', '6', 'X', 'Y', 'Z', '5', '4', '3', '2'};
const Waits kAllWaits = {3000ms, 1000ms, 1000ms, 1000ms};

class CmdSNTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    ASSERT_TRUE(manager.connect(true));
    ASSERT_TRUE(info.readIdentity());
    radio.clearLog();
    clock.clearSleeps();
    removeErrors(ErrorCategory::OK);
    window = createMessageWindow([this](const Message& m) { messages.push_back(m.message); });
    command.radioInfo = &info;
    command.notifyWindow = window;
    std::copy(kNewSerial.begin(), kNewSerial.end(), command.newSerialNumber.begin());
  }
  void TearDown() override {
    destroyMessageWindow(window);
    ErrorTextTest::TearDown();
  }

  // Runs the command on a worker thread, as the task does, and then its news.
  bool run() {
    bool result = false;
    std::thread worker([&] { result = command.execute(); });
    worker.join();
    currentThreadQueue().processPending();
    return result;
  }

  SimRadio radio;
  VirtualClock clock;
  SimCableDriver cable{radio, clock};
  RadioManager manager{cable, clock};
  RadioInfo& info = *manager.radioInfo();
  CmdSN command;
  WindowHandle window = kNoWindow;
  std::vector<unsigned> messages;
};

TEST_F(CmdSNTest, WritesTheNumberAndHasTheFactoryBlockBackedUp) {
  EXPECT_TRUE(command.resultFlag);  // before any run
  EXPECT_TRUE(run());
  EXPECT_TRUE(command.resultFlag);
  EXPECT_EQ(radio.config().serialNumber, kNewSerial);
  EXPECT_TRUE(radio.factoryBackedUp());
  EXPECT_EQ(radio.testMode(), SimTestMode::Normal);  // soft-reset at the end
  EXPECT_EQ(radio.requestKinds(),
            (Kinds{RequestKind::Reset, RequestKind::TestMode, RequestKind::SerialNumber,
                   RequestKind::FactoryBackup, RequestKind::Reset}));
  // Soft resets, the TOVR test mode with parameters 0, 0, and the serial number bytes.
  for (const LoggedRequest& reset : radio.requestsOf(RequestKind::Reset)) {
    EXPECT_EQ(reset.bytes[4], 0);
  }
  const Bytes testMode = radio.requestsOf(RequestKind::TestMode)[0].bytes;
  EXPECT_EQ(Bytes(testMode.begin() + 2, testMode.begin() + 5), (Bytes{1, 0, 0}));
  EXPECT_EQ(clock.sleeps(), kAllWaits);
  EXPECT_EQ(messages, (std::vector<unsigned>{MSG_COMMAND_STARTED, MSG_COMMAND_FINISHED}));
  EXPECT_TRUE(errorLines().empty());
}

TEST_F(CmdSNTest, SendsOnlyAsManyBytesAsTheRadiosNumberHas) {
  SimRadioConfig config = radio.config();
  config.serialNumber = {'A', 'B', 'C', '1', '2'};
  radio.setConfig(config);
  ASSERT_TRUE(info.readIdentity());
  ASSERT_EQ(info.serialLength, 5);
  EXPECT_TRUE(run());
  EXPECT_EQ(radio.config().serialNumber, Bytes(kNewSerial.begin(), kNewSerial.begin() + 5));
}

// Each failure stops the sequence where it happens, still spends the waits the radio needs,
// leaves only the failing operation's line, and the next run starts afresh.
TEST_F(CmdSNTest, FailuresStopTheSequenceAndTheNextRunStartsAfresh) {
  const struct {
    const char* what;
    std::function<void()> arrange;
    Kinds kinds;
    Waits waits;
    std::string lastLine;  // the failing operation's; "" for none
    bool serialWritten;
  } cases[] = {
      {"reset status refuses",
       [this] {
         SimRadioConfig config = radio.config();
         config.resetStatusWord = 0x0002;
         radio.setConfig(config);
       },
       {RequestKind::Reset},
       {3000ms},
       "",
       false},
      {"test mode unanswered",
       [this] {
         radio.setFaultPlan(FaultPlan().addEvery(RequestKind::TestMode, FaultKind::Silence));
       },
       {RequestKind::Reset, RequestKind::TestMode, RequestKind::TestMode},
       kAllWaits,
       "Error:failed to request for test mode",
       false},
      // The answer comes through but is not the acceptance: the operation reports a failure,
      // so the run must not count as a success.
      {"serial number answered wrongly",
       [this] {
         radio.setFaultPlan(
             FaultPlan().addEvery(RequestKind::SerialNumber, FaultKind::WrongOpcode));
       },
       {RequestKind::Reset, RequestKind::TestMode, RequestKind::SerialNumber},
       kAllWaits,
       "Error:failed to request to update SN.",
       true},
      {"factory backup unanswered",
       [this] {
         radio.setFaultPlan(FaultPlan().addEvery(RequestKind::FactoryBackup, FaultKind::Silence));
       },
       {RequestKind::Reset, RequestKind::TestMode, RequestKind::SerialNumber,
        RequestKind::FactoryBackup, RequestKind::FactoryBackup},
       kAllWaits,
       "Error:failed to request to do factory block backup.",
       true},
      // More bytes than the radio's number can have are not sent (nor read past the field).
      {"serial length beyond the field",
       [this] { info.serialLength = 0x10C; },
       {RequestKind::Reset, RequestKind::TestMode},
       kAllWaits,
       "",
       false},
      // Not connected: the reset is refused without an exchange.
      {"not connected", [this] { ASSERT_TRUE(manager.disconnect()); }, {}, {3000ms}, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimRadioConfig config = radio.config();
    config.serialNumber = kOldSerial;
    config.resetStatusWord = 0;
    radio.setConfig(config);
    radio.setFactoryBackedUp(false);
    c.arrange();
    radio.clearLog();
    clock.clearSleeps();
    messages.clear();

    EXPECT_FALSE(run());
    EXPECT_FALSE(command.resultFlag);
    EXPECT_EQ(radio.requestKinds(), c.kinds);
    EXPECT_EQ(clock.sleeps(), c.waits);
    EXPECT_EQ(radio.config().serialNumber == kNewSerial, c.serialWritten);
    EXPECT_FALSE(radio.factoryBackedUp());
    EXPECT_EQ(messages, (std::vector<unsigned>{MSG_COMMAND_STARTED, MSG_COMMAND_FINISHED}));
    const auto lines = errorEntries();
    if (c.lastLine.empty()) {
      EXPECT_TRUE(lines.empty());
    } else {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back().category, ErrorCategory::TOVR);
      EXPECT_EQ(lines.back().text.substr(0, c.lastLine.size()), c.lastLine);
    }

    // The next run, with the radio behaving, does the whole sequence.
    radio.setFaultPlan(FaultPlan());
    config.resetStatusWord = 0;
    radio.setConfig(config);
    if (!info.connected) {
      ASSERT_TRUE(manager.connect(true));
    }
    info.serialLength = static_cast<std::int32_t>(kOldSerial.size());
    radio.clearLog();
    removeErrors(ErrorCategory::OK);
    EXPECT_TRUE(run());
    EXPECT_EQ(radio.requestKinds().size(), 5u);
    EXPECT_EQ(radio.config().serialNumber, kNewSerial);
    EXPECT_TRUE(radio.factoryBackedUp());
  }
}

TEST_F(CmdSNTest, WithoutARadioNothingIsSent) {
  command.radioInfo = nullptr;
  EXPECT_FALSE(run());
  EXPECT_TRUE(radio.requests().empty());
  EXPECT_TRUE(clock.sleeps().empty());
  EXPECT_EQ(messages, (std::vector<unsigned>{MSG_COMMAND_STARTED, MSG_COMMAND_FINISHED}));
}

}  // namespace
}  // namespace orvik
