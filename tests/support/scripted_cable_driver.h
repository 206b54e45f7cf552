#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "base/clock.h"
#include "link/cable_driver.h"

namespace orvik::testing {

// A cable driver whose every answer a test sets up: the attached devices and their listing
// failures, failing calls, bytes that arrive from the radio, short reads, and a responder
// that reacts to what is written. A read that finds nothing returns at once and counts its
// time-out on the virtual clock.
class ScriptedCableDriver : public CableDriver {
 public:
  enum class Call {
    ListCount,
    ListDescription,
    Open,
    GetComPortNumber,
    Close,
    SetBaudRate,
    SetDataCharacteristics,
    SetFlowControl,
    SetTimeouts,
    Purge,
    Read,
    Write,
  };

  struct Device {
    std::string description = kCableDescription;
    std::int32_t comPort = 3;
    // Statuses the description listing returns first, one per listing call, before FT_OK.
    std::deque<FT_STATUS> listingStatuses;
  };

  explicit ScriptedCableDriver(VirtualClock& clock) : clock_(clock) {}

  // Devices attached; one programming cable unless a test says otherwise.
  std::vector<Device> devices{Device{}};
  // What lastError() reports.
  std::uint32_t systemLastError = 0;
  // Bytes the radio has sent and the cable has not yet delivered.
  std::deque<std::uint8_t> incoming;
  // At most this many bytes per read call (0: no limit).
  std::uint32_t maxBytesPerRead = 0;
  // Every read call that delivers bytes takes this long on the virtual clock (a radio that
  // dribbles its answer).
  std::chrono::milliseconds readDelay{0};
  // At most this many bytes per write call (0: no limit).
  std::uint32_t maxBytesPerWrite = 0;
  // Called with every run of bytes written; may push a response into incoming.
  std::function<void(std::span<const std::uint8_t>)> responder;
  // Bytes written so far, in order.
  std::vector<std::uint8_t> written;
  // Every driver call made, in order.
  std::vector<Call> calls;
  std::uint32_t baudRate = 0;
  std::uint32_t readTimeoutMs = 0;
  std::uint32_t writeTimeoutMs = 0;
  std::vector<std::uint32_t> purgeMasks;

  // The next calls of this kind return these statuses, in order, before going back to FT_OK.
  void failNext(Call call, std::vector<FT_STATUS> statuses);
  // Queues bytes that arrive from the radio.
  void arrive(std::span<const std::uint8_t> bytes);
  void arrive(std::initializer_list<std::uint8_t> bytes);
  int count(Call call) const;
  bool isOpen() const { return open_; }

  FT_STATUS listDeviceCount(std::uint32_t& count) override;
  FT_STATUS listDescription(std::uint32_t index, CableDescription& description) override;
  std::uint32_t lastError() override { return systemLastError; }
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
                  std::uint32_t& sent) override;

 private:
  FT_STATUS next(Call call);

  VirtualClock& clock_;
  std::map<Call, std::deque<FT_STATUS>> failures_;
  int openIndex_ = -1;
  bool open_ = false;
  char handleToken_ = 0;
};

}  // namespace orvik::testing
