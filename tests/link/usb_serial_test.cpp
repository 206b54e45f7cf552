#include "link/usb_serial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/error_text_fixture.h"
#include "tests/support/scripted_cable_driver.h"

namespace orvik {
namespace {

using testing::errorLines;
using testing::ScriptedCableDriver;
using Call = ScriptedCableDriver::Call;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

ScriptedCableDriver::Device device(std::string description, std::deque<FT_STATUS> listing = {}) {
  ScriptedCableDriver::Device result;
  result.description = std::move(description);
  result.listingStatuses = std::move(listing);
  return result;
}

class CablePort : public testing::ErrorTextTest {
 protected:
  VirtualClock clock;
  ScriptedCableDriver driver{clock};
  USBSerial port{driver, clock};
  int first = -1;
};

TEST_F(CablePort, NoDeviceOrAFailingCountFindsNoCable) {
  driver.devices.clear();
  EXPECT_EQ(port.countCables(first), 0);
  EXPECT_EQ(first, -1);

  driver.devices = {device(kCableDescription)};
  driver.failNext(Call::ListCount, {FT_IO_ERROR});
  EXPECT_EQ(port.countCables(first), 0);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(port.lastStatus(), FT_IO_ERROR);
  EXPECT_EQ(driver.count(Call::ListDescription), 0);
  EXPECT_TRUE(errorLines().empty());
}

TEST_F(CablePort, CountsEveryCableAndReportsTheLowestIndex) {
  driver.devices = {device("FT232R USB UART"), device("vl cps cable"), device("VL CPS CABLE"),
                    device("VL CPS Cable2"),   device("VL CPS"),       device(""),
                    device("VL CPS Cable")};
  EXPECT_EQ(port.countCables(first), 3);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(port.lastStatus(), FT_OK);
}

// The first device's listing keeps failing with FT_DEVICE_NOT_OPENED; the second is a cable.
struct ListingRetryCase {
  const char* name;
  std::uint32_t lastError;
  int failures;
  int waits;
  milliseconds wait;
  int cables;
  int firstCable;
};

void PrintTo(const ListingRetryCase& c, std::ostream* os) {
  *os << c.name;
}

class CablePortListingRetry : public CablePort,
                              public ::testing::WithParamInterface<ListingRetryCase> {};

TEST_P(CablePortListingRetry, WaitsByTheLastErrorThenMovesOn) {
  const ListingRetryCase& c = GetParam();
  driver.devices = {
      device(kCableDescription, std::deque<FT_STATUS>(c.failures, FT_DEVICE_NOT_OPENED)),
      device(kCableDescription)};
  driver.systemLastError = c.lastError;

  EXPECT_EQ(port.countCables(first), c.cables);
  EXPECT_EQ(first, c.firstCable);
  EXPECT_EQ(clock.sleeps(), std::vector<milliseconds>(c.waits, c.wait));
  // The first listing, one per wait, and the second device's.
  EXPECT_EQ(driver.count(Call::ListDescription), 1 + c.waits + 1);
  EXPECT_EQ(port.lastStatus(), FT_OK);
  EXPECT_TRUE(errorLines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CablePortListingRetry,
    ::testing::Values(ListingRetryCase{"AccessDeniedWaits13Times500ms", ERROR_ACCESS_DENIED, 30, 13,
                                       milliseconds(500), 1, 1},
                      ListingRetryCase{"GeneralFailureWaits13Times10ms", ERROR_GEN_FAILURE, 30, 13,
                                       milliseconds(10), 1, 1},
                      ListingRetryCase{"OtherErrorStopsAtOnce", 2, 30, 0, milliseconds(0), 1, 1},
                      ListingRetryCase{"RecoveringDeviceCounts", ERROR_ACCESS_DENIED, 3, 3,
                                       milliseconds(500), 2, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CablePort, OpenRecordsThePortNumberAndReopeningClosesFirst) {
  driver.devices = {device("other"), device(kCableDescription)};
  driver.devices[1].comPort = 7;
  ASSERT_TRUE(port.open(1));
  EXPECT_TRUE(port.usable());
  EXPECT_EQ(port.comPort(), 7);

  ASSERT_TRUE(port.open(1));
  EXPECT_EQ(driver.count(Call::Close), 1);
  EXPECT_EQ(driver.count(Call::Open), 2);
  EXPECT_TRUE(errorLines().empty());
}

// One driver call of open fails.
struct OpenFailureCase {
  const char* name;
  Call failing;
  FT_STATUS status;
  int closes;  // the handle a good open gave is handed back
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) {
  *os << c.name;
}

class CablePortOpenFailure : public CablePort,
                             public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(CablePortOpenFailure, LeavesThePortClosedAndSaysWhichIndex) {
  const OpenFailureCase& c = GetParam();
  driver.devices = {device("other"), device(kCableDescription)};
  driver.failNext(c.failing, {c.status});

  EXPECT_FALSE(port.open(1));
  EXPECT_FALSE(port.isOpen());
  EXPECT_FALSE(driver.isOpen());
  EXPECT_EQ(driver.count(Call::Close), c.closes);
  EXPECT_EQ(port.lastStatus(), c.status);
  EXPECT_EQ(errorLines(), Lines{"3:Error:failed to open the port refered by the index [1]"});
  EXPECT_FALSE(port.close());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CablePortOpenFailure,
    ::testing::Values(OpenFailureCase{"Open", Call::Open, FT_DEVICE_NOT_OPENED, 0},
                      OpenFailureCase{"GetComPortNumber", Call::GetComPortNumber, FT_IO_ERROR, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CablePort, ClosedPortRefusesEverythingWithoutADriverCallOrALine) {
  std::uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_FALSE(port.close());
  EXPECT_FALSE(port.setBaudRate(16406));
  EXPECT_FALSE(port.setDataCharacteristics());
  EXPECT_FALSE(port.setFlowControl());
  EXPECT_FALSE(port.setTimeouts(250, 300));
  EXPECT_EQ(port.read(buffer, 4), 0u);
  EXPECT_EQ(port.write(buffer, 4), 0u);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_TRUE(errorLines().empty());
  EXPECT_EQ(port.lastStatus(), FT_OK);
}

TEST_F(CablePort, LineSettingsAreRecordedOnlyWhenTheDriverTakesThem) {
  ASSERT_TRUE(port.open(0));
  EXPECT_EQ(port.baudRate(), 57600u);
  ASSERT_TRUE(port.setBaudRate(16406));
  ASSERT_TRUE(port.setTimeouts(250, 300));
  EXPECT_TRUE(port.setDataCharacteristics());
  EXPECT_TRUE(port.setFlowControl());
  EXPECT_EQ(driver.baudRate, 16406u);
  EXPECT_EQ(port.baudRate(), 16406u);
  EXPECT_EQ(port.readTimeout(), 250u);
  EXPECT_EQ(port.writeTimeout(), 300u);
}

// A line setting the driver refuses.
struct SettingFailureCase {
  const char* name;
  Call call;
  std::function<bool(USBSerial&)> apply;
  const char* line;
};

void PrintTo(const SettingFailureCase& c, std::ostream* os) {
  *os << c.name;
}

class CablePortSettingFailure : public CablePort,
                                public ::testing::WithParamInterface<SettingFailureCase> {};

TEST_P(CablePortSettingFailure, AppendsItsLineAndRecordsTheStatus) {
  const SettingFailureCase& c = GetParam();
  ASSERT_TRUE(port.open(0));
  driver.failNext(c.call, {FT_INVALID_PARAMETER});

  EXPECT_FALSE(c.apply(port));
  EXPECT_EQ(port.lastStatus(), FT_INVALID_PARAMETER);
  EXPECT_FALSE(port.usable());
  EXPECT_EQ(errorLines(), Lines{std::string("3:") + c.line});
  // What was last applied is unchanged.
  EXPECT_EQ(port.baudRate(), 57600u);
  EXPECT_EQ(port.readTimeout(), 0u);
  EXPECT_EQ(port.writeTimeout(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CablePortSettingFailure,
    ::testing::Values(SettingFailureCase{"BaudRate", Call::SetBaudRate,
                                         [](USBSerial& p) { return p.setBaudRate(16406); },
                                         "Error:failed to set baud rade [16406]."},
                      SettingFailureCase{"DataCharacteristics", Call::SetDataCharacteristics,
                                         [](USBSerial& p) { return p.setDataCharacteristics(); },
                                         "Error:failed to set parity data stop."},
                      SettingFailureCase{"FlowControl", Call::SetFlowControl,
                                         [](USBSerial& p) { return p.setFlowControl(); },
                                         "Error:failed to set flow."},
                      SettingFailureCase{"Timeouts", Call::SetTimeouts,
                                         [](USBSerial& p) { return p.setTimeouts(250, 300); },
                                         "Error:failed to configure time out."},
                      SettingFailureCase{"Close", Call::Close,
                                         [](USBSerial& p) { return p.close(); },
                                         "Error:failed to close port"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CablePort, FailedCloseKeepsTheHandleSoItCanBeClosedLater) {
  ASSERT_TRUE(port.open(0));
  driver.failNext(Call::Close, {FT_IO_ERROR, FT_IO_ERROR});
  EXPECT_FALSE(port.close());
  EXPECT_TRUE(port.isOpen());
  EXPECT_FALSE(port.open(0));  // cannot reopen without closing
  EXPECT_EQ(driver.count(Call::Open), 1);
  EXPECT_TRUE(port.close());
  EXPECT_FALSE(port.isOpen());
}

TEST_F(CablePort, ReadReturnsTheBytesThatArrivedBeforeTheTimeOut) {
  ASSERT_TRUE(port.open(0));
  ASSERT_TRUE(port.setTimeouts(250, 300));
  driver.arrive({1, 2, 3, 4});
  Bytes buffer(10, 0);
  EXPECT_EQ(port.read(buffer.data(), 10), 4u);
  EXPECT_EQ(port.lastStatus(), FT_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{1, 2, 3, 4}));
  EXPECT_TRUE(errorLines().empty());
}

TEST_F(CablePort, ReadGathersPiecesAndStopsAtAFailingCall) {
  ASSERT_TRUE(port.open(0));
  driver.maxBytesPerRead = 3;
  driver.arrive({1, 2, 3, 4, 5, 6, 7, 8});
  Bytes buffer(8, 0);
  EXPECT_EQ(port.read(buffer.data(), 8), 8u);
  EXPECT_EQ(buffer, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(driver.count(Call::Read), 3);

  driver.arrive({9, 10, 11, 12});
  driver.failNext(Call::Read, {FT_OK, FT_IO_ERROR});
  EXPECT_EQ(port.read(buffer.data(), 8), 3u);
  EXPECT_EQ(port.lastStatus(), FT_IO_ERROR);
  EXPECT_FALSE(port.usable());
  EXPECT_TRUE(errorLines().empty());
}

TEST_F(CablePort, WritePurgesWithMask4BeforeEveryDriverWrite) {
  ASSERT_TRUE(port.open(0));
  driver.maxBytesPerWrite = 4;
  driver.calls.clear();
  const Bytes bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(port.write(bytes.data(), 10), 10u);
  EXPECT_EQ(driver.written, bytes);
  EXPECT_EQ(driver.calls, (std::vector<Call>{Call::Purge, Call::Write, Call::Purge, Call::Write,
                                             Call::Purge, Call::Write}));
  EXPECT_EQ(driver.purgeMasks, (std::vector<std::uint32_t>{4, 4, 4}));
}

TEST_F(CablePort, AFailingPurgeIsReportedAndTheWriteGoesOn) {
  ASSERT_TRUE(port.open(0));
  driver.failNext(Call::Purge, {FT_IO_ERROR});
  const Bytes bytes{0xF2, 0x23, 0x03, 0xE7};
  EXPECT_EQ(port.write(bytes.data(), 4), 4u);
  EXPECT_EQ(driver.written, bytes);
  EXPECT_EQ(errorLines(), Lines{"3:Error:failed to purge port."});
  EXPECT_EQ(port.lastStatus(), FT_OK);  // the write after it succeeded
}

TEST_F(CablePort, AFailingWriteStopsWithTheCountSent) {
  ASSERT_TRUE(port.open(0));
  driver.maxBytesPerWrite = 4;
  driver.failNext(Call::Write, {FT_OK, FT_IO_ERROR});
  const Bytes bytes(10, 0x55);
  EXPECT_EQ(port.write(bytes.data(), 10), 4u);
  EXPECT_EQ(port.lastStatus(), FT_IO_ERROR);
}

}  // namespace
}  // namespace orvik
