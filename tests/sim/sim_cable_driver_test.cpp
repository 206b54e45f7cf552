#include "sim/sim_cable_driver.h"

#include <gtest/gtest.h>

#include <cstring>

#include "link/usb_serial.h"

namespace orvik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

const Bytes kStatusFirmware = {0xF2, 0x23, 0x03, 0xE7};
const Bytes kFirmwareAnswer = {0x50, 0xF7, 0xA3, 0x03, 0x00, 0x52, 0x01, 0x02, 0x03, 0x0A};
const Bytes kProbe = {0xF1, 0x40, 0xCE};

class SimCableDriverTest : public ::testing::Test {
 protected:
  // Opens device 0 and sets it up the way the PC talks to the radio.
  void openAt(std::uint32_t baud) {
    ASSERT_EQ(driver.open(0, handle), FT_OK);
    ASSERT_EQ(driver.setBaudRate(handle, baud), FT_OK);
    ASSERT_EQ(driver.setTimeouts(handle, 250, 300), FT_OK);
  }

  FT_STATUS send(const Bytes& bytes) {
    std::uint32_t sent = 0;
    const FT_STATUS status =
        driver.write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), sent);
    EXPECT_EQ(status == FT_OK ? bytes.size() : 0u, sent);
    return status;
  }

  Bytes receive(std::uint32_t count) {
    Bytes buffer(count);
    std::uint32_t received = 0;
    EXPECT_EQ(driver.read(handle, buffer.data(), count, received), FT_OK);
    buffer.resize(received);
    return buffer;
  }

  SimRadio radio;
  VirtualClock clock;
  SimCableDriver driver{radio, clock};
  FT_HANDLE handle = nullptr;
};

TEST_F(SimCableDriverTest, ListsTheConfiguredDevices) {
  driver.addDevice({"USB Serial Port", 7});
  std::uint32_t count = 0;
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  EXPECT_EQ(count, 2u);
  CableDescription description{};
  ASSERT_EQ(driver.listDescription(1, description), FT_OK);
  EXPECT_STREQ(description.data(), "USB Serial Port");
  EXPECT_EQ(driver.listDescription(2, description), FT_DEVICE_NOT_FOUND);

  // The port layer finds the one programming cable among them.
  USBSerial port(driver, clock);
  int first = -1;
  EXPECT_EQ(port.countCables(first), 1);
  EXPECT_EQ(first, 0);
  ASSERT_TRUE(port.open(1));
  EXPECT_EQ(port.comPort(), 7);
}

TEST_F(SimCableDriverTest, RecordsLineSettingsAndGuardsItsHandle) {
  ASSERT_EQ(driver.open(0, handle), FT_OK);
  EXPECT_EQ(driver.baudRate(), 9600u);
  FT_HANDLE second = nullptr;
  EXPECT_EQ(driver.open(0, second), FT_DEVICE_NOT_OPENED);
  std::int32_t comPort = 0;
  EXPECT_EQ(driver.getComPortNumber(handle, comPort), FT_OK);
  EXPECT_EQ(comPort, 3);
  EXPECT_EQ(driver.setDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE),
            FT_OK);
  EXPECT_EQ(driver.setFlowControl(handle, FT_FLOW_NONE, 0, 0), FT_OK);
  EXPECT_EQ(driver.setTimeouts(handle, 20, 300), FT_OK);
  EXPECT_EQ(driver.setBaudRate(handle, 16406), FT_OK);
  EXPECT_EQ(driver.wordLength(), FT_BITS_8);
  EXPECT_EQ(driver.stopBits(), FT_STOP_BITS_1);
  EXPECT_EQ(driver.parity(), FT_PARITY_NONE);
  EXPECT_EQ(driver.flowControl(), FT_FLOW_NONE);
  EXPECT_EQ(driver.readTimeoutMs(), 20u);
  EXPECT_EQ(driver.writeTimeoutMs(), 300u);
  EXPECT_EQ(driver.baudRate(), 16406u);

  int other = 0;
  EXPECT_EQ(driver.setBaudRate(&other, 57600), FT_INVALID_HANDLE);
  EXPECT_EQ(driver.close(handle), FT_OK);
  EXPECT_FALSE(driver.isOpen());
  EXPECT_EQ(driver.close(handle), FT_INVALID_HANDLE);
}

TEST_F(SimCableDriverTest, ReadsAnswerAtOnceAndShortReadsCountTheTimeOut) {
  openAt(57600);
  ASSERT_EQ(send(kStatusFirmware), FT_OK);
  EXPECT_EQ(receive(4), Bytes(kFirmwareAnswer.begin(), kFirmwareAnswer.begin() + 4));
  EXPECT_EQ(clock.now(), milliseconds(0));
  // Six bytes are left: asking for more returns them and spends the read time-out.
  EXPECT_EQ(receive(10), Bytes(kFirmwareAnswer.begin() + 4, kFirmwareAnswer.end()));
  EXPECT_EQ(clock.now(), milliseconds(250));
  EXPECT_TRUE(receive(1).empty());
  EXPECT_EQ(clock.now(), milliseconds(500));
  // Nothing slept: the time passed on the clock only.
  EXPECT_TRUE(clock.sleeps().empty());
}

TEST_F(SimCableDriverTest, RadioHearsOnlyItsOwnRate) {
  openAt(9600);
  ASSERT_EQ(send(kStatusFirmware), FT_OK);
  EXPECT_TRUE(receive(1).empty());
  EXPECT_TRUE(radio.requests().empty());
  ASSERT_EQ(driver.setBaudRate(handle, 57600), FT_OK);
  ASSERT_EQ(send(kStatusFirmware), FT_OK);
  EXPECT_EQ(receive(10), kFirmwareAnswer);
}

TEST_F(SimCableDriverTest, EchoComesBeforeTheAnswer) {
  driver.setEcho(true);
  // The cable-mode probe at 16406 baud: the cable echoes, the radio hears nothing.
  openAt(16406);
  ASSERT_EQ(send(kProbe), FT_OK);
  EXPECT_EQ(receive(4), kProbe);
  EXPECT_TRUE(radio.requests().empty());

  ASSERT_EQ(driver.setBaudRate(handle, 57600), FT_OK);
  ASSERT_EQ(send(kStatusFirmware), FT_OK);
  Bytes expected = kStatusFirmware;
  expected.insert(expected.end(), kFirmwareAnswer.begin(), kFirmwareAnswer.end());
  EXPECT_EQ(receive(static_cast<std::uint32_t>(expected.size())), expected);
}

TEST_F(SimCableDriverTest, PurgeRxDropsUndeliveredBytes) {
  openAt(57600);
  ASSERT_EQ(send(kStatusFirmware), FT_OK);
  ASSERT_EQ(driver.purge(handle, FT_PURGE_TX), FT_OK);
  EXPECT_EQ(driver.pendingRead(), kFirmwareAnswer.size());
  ASSERT_EQ(driver.purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  EXPECT_EQ(driver.pendingRead(), 0u);
  EXPECT_EQ(driver.purgeMasks(), (std::vector<std::uint32_t>{FT_PURGE_TX, 3}));
}

TEST_F(SimCableDriverTest, LineTimeDelaysWritesAndAnswersByTheirBytes) {
  // A memory read of 220 bytes: 9 bytes out, 230 back (acknowledgement, frame with the
  // address and the data); at 57600 baud a byte takes 173.6 us.
  const Bytes memRead = {0xFF, 0x11, 0x00, 0x05, 0xDC, 0x82, 0x00, 0x00, 0x8C};
  driver.keepLineTime(std::chrono::milliseconds(1));
  openAt(57600);

  ASSERT_EQ(send(memRead), FT_OK);
  EXPECT_EQ(clock.now(), milliseconds(1));  // the write lasts until its bytes have left
  Bytes answer = receive(1);                // 1.56 ms + 1 ms latency + one byte
  EXPECT_EQ(answer, Bytes{0x50});
  EXPECT_EQ(clock.now(), milliseconds(2));
  const Bytes rest = receive(229);
  answer.insert(answer.end(), rest.begin(), rest.end());
  EXPECT_EQ(answer.size(), 230u);
  EXPECT_EQ(clock.now(), milliseconds(42));  // 1.56 + 1 + 230 bytes = 42.5 ms
  EXPECT_TRUE(clock.sleeps().empty());

  // A purge drops what has arrived; the bytes still on the line come in after it.
  ASSERT_EQ(send(memRead), FT_OK);
  clock.advance(milliseconds(20));
  ASSERT_EQ(driver.purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  const std::size_t late = driver.pendingRead();
  EXPECT_GT(late, 100u);
  EXPECT_LT(late, 130u);
  EXPECT_EQ(receive(static_cast<std::uint32_t>(late)), Bytes(answer.end() - late, answer.end()));

  // A write longer than its time-out returns with the bytes that left in that time.
  ASSERT_EQ(driver.setTimeouts(handle, 250, 10), FT_OK);
  const Bytes tooLong(100, 0x00);
  std::uint32_t sent = 0;
  const auto before = clock.now();
  ASSERT_EQ(driver.write(handle, tooLong.data(), 100, sent), FT_OK);
  EXPECT_EQ(sent, 57u);
  EXPECT_EQ(clock.now() - before, milliseconds(10));
}

TEST_F(SimCableDriverTest, DisconnectFaultMakesTheCableVanishUntilReconnected) {
  radio.setFaultPlan(FaultPlan().add(RequestKind::StatusQuery, 1, FaultKind::Disconnect));
  openAt(57600);
  ASSERT_EQ(send(kStatusFirmware), FT_OK);

  std::uint8_t byte = 0;
  std::uint32_t received = 0;
  EXPECT_EQ(driver.read(handle, &byte, 1, received), FT_IO_ERROR);
  EXPECT_EQ(send(kStatusFirmware), FT_IO_ERROR);
  EXPECT_EQ(driver.setBaudRate(handle, 57600), FT_IO_ERROR);
  EXPECT_EQ(driver.purge(handle, FT_PURGE_RX), FT_IO_ERROR);
  EXPECT_EQ(driver.close(handle), FT_IO_ERROR);
  std::uint32_t count = 1;
  EXPECT_EQ(driver.listDeviceCount(count), FT_OK);
  EXPECT_EQ(count, 0u);
  FT_HANDLE again = nullptr;
  EXPECT_EQ(driver.open(0, again), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(radio.count(RequestKind::StatusQuery), 1);

  driver.reconnect();
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  EXPECT_EQ(count, 1u);
  // The handle of the vanished cable can be let go, then the cable opens afresh.
  EXPECT_EQ(driver.close(handle), FT_OK);
  openAt(57600);
  ASSERT_EQ(send(kStatusFirmware), FT_OK);
  EXPECT_EQ(receive(10), kFirmwareAnswer);
}

}  // namespace
}  // namespace orvik
