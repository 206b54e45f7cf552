#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/clock.h"
#include "link/cable_driver.h"
#include "sim/sim_radio.h"

namespace orvik {

// The in-process programming cable with a SimRadio at its end. Time passes only on the
// virtual clock: a read that finds fewer bytes than asked returns with what there is and
// counts the read time-out instead of waiting. By default the radio answers at once; with
// line time kept, bytes cross the cable at its rate as on a real line. Every listed device
// reaches the same radio.
class SimCableDriver : public CableDriver {
 public:
  struct Device {
    std::string description = kCableDescription;
    std::int32_t comPort = 3;
  };

  SimCableDriver(SimRadio& radio, VirtualClock& clock);

  // The attached devices; one programming cable unless a test says otherwise.
  void setDevices(std::vector<Device> devices);
  void addDevice(Device device);
  // A cable switched to its other mode returns every byte written before the radio's answer.
  void setEcho(bool on);
  // Keeps the time of a real line from now on: a write lasts until its bytes have left at the
  // cable's rate (the rate the PC set: 16406 for the probe, 57600 after it), the radio answers
  // once the request's last byte has arrived plus the latency, and the answer's bytes arrive
  // one after another at the same rate.
  void keepLineTime(std::chrono::microseconds latency);
  // Bytes that a program handed over just before it ended: they still leave at the rate
  // given, from now on, whether the port is closed or opened again. With line time kept, what
  // the radio answers arrives when it would, also after the next program opened the port.
  void sendFromEndedProgram(std::span<const std::uint8_t> bytes, std::uint32_t baud);
  // The cable vanishes (as after a Disconnect fault) or comes back, closed.
  void disconnect();
  void reconnect();
  bool connected() const;

  // What the PC applied, for tests.
  bool isOpen() const;
  std::uint32_t baudRate() const;
  std::uint8_t wordLength() const;
  std::uint8_t stopBits() const;
  std::uint8_t parity() const;
  std::uint16_t flowControl() const;
  std::uint32_t readTimeoutMs() const;
  std::uint32_t writeTimeoutMs() const;
  std::vector<std::uint32_t> purgeMasks() const;
  // Bytes written to the radio so far, whatever the baud.
  std::vector<std::uint8_t> written() const;
  // Bytes waiting to be read.
  std::size_t pendingRead() const;

  FT_STATUS listDeviceCount(std::uint32_t& count) override;
  FT_STATUS listDescription(std::uint32_t index, CableDescription& description) override;
  std::uint32_t lastError() override { return 0; }
  FT_STATUS open(int index, FT_HANDLE& handle) override;
  FT_STATUS getComPortNumber(FT_HANDLE handle, std::int32_t& comPort) override;
  FT_STATUS close(FT_HANDLE handle) override;
  FT_STATUS setBaudRate(FT_HANDLE handle, std::uint32_t baud) override;
  FT_STATUS setDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                   std::uint8_t parity) override;
  FT_STATUS setFlowControl(FT_HANDLE handle, std::uint16_t flow, std::uint8_t xon,
                           std::uint8_t xoff) override;
  FT_STATUS setTimeouts(FT_HANDLE handle, std::uint32_t readMs, std::uint32_t writeMs) override;
  FT_STATUS purge(FT_HANDLE handle, std::uint32_t mask) override;
  FT_STATUS read(FT_HANDLE handle, std::uint8_t* buffer, std::uint32_t toRead,
                 std::uint32_t& received) override;
  FT_STATUS write(FT_HANDLE handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                  std::uint32_t& written) override;

 private:
  // A freshly opened converter runs at this rate until told otherwise.
  static constexpr std::uint32_t kPowerOnBaud = 9600;

  using Nanoseconds = std::chrono::nanoseconds;
  // A byte on its way to the PC and when its last bit arrives (on the cable's own time).
  struct Arriving {
    std::uint8_t byte;
    Nanoseconds due;
  };

  // What has arrived while nobody listened is gone; with line time kept, bytes still on the
  // line arrive later.
  void dropArrived();
  // FT_OK when the handle is the open cable's, else the status the call returns.
  FT_STATUS check(FT_HANDLE handle) const;
  // Puts the radio's answers on the line towards the PC, starting when they are ready.
  void collectAnswers(Nanoseconds ready);
  void sendToPc(std::span<const std::uint8_t> bytes, Nanoseconds ready);
  void vanish();
  // The cable's time, which runs finer than the virtual clock and never behind it.
  Nanoseconds now();
  void advanceTo(Nanoseconds time);
  Nanoseconds byteTime() const;

  SimRadio& radio_;
  VirtualClock& clock_;
  mutable std::mutex mutex_;
  std::vector<Device> devices_{Device{}};
  bool echo_ = false;
  bool connected_ = true;
  bool open_ = false;
  // The handle of a cable that vanished while open: closing it is allowed once.
  bool staleHandle_ = false;
  int openIndex_ = -1;
  char handleToken_ = 0;

  std::uint32_t baud_ = kPowerOnBaud;
  std::uint8_t wordLength_ = 0;
  std::uint8_t stopBits_ = 0;
  std::uint8_t parity_ = 0;
  std::uint16_t flow_ = 0;
  std::uint32_t readTimeoutMs_ = 0;
  std::uint32_t writeTimeoutMs_ = 0;
  std::vector<std::uint32_t> purgeMasks_;
  std::vector<std::uint8_t> written_;
  std::deque<Arriving> rx_;

  std::optional<std::chrono::microseconds> latency_;  // set while line time is kept
  Nanoseconds now_{0};
  // When the line in each direction is free again.
  Nanoseconds toRadioFree_{0};
  Nanoseconds toPcFree_{0};
};

}  // namespace orvik
