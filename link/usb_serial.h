#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "base/clock.h"
#include "link/cable_driver.h"

namespace orvik {

// The PC end of the programming cable: counts the attached cables, opens one by its device
// index, applies line settings and moves raw bytes. It knows nothing of frames.
class USBSerial {
 public:
  static constexpr std::uint32_t kDefaultBaudRate = 57600;

  USBSerial(CableDriver& driver, Clock& clock);
  virtual ~USBSerial();
  USBSerial(const USBSerial&) = delete;
  USBSerial& operator=(const USBSerial&) = delete;

  // Bytes received (0 to count); a short count is how a time-out shows.
  virtual std::uint32_t read(std::uint8_t* buffer, std::uint32_t count);
  // Bytes sent (0 to count).
  virtual std::uint32_t write(const std::uint8_t* buffer, std::uint32_t count);

  // Number of attached programming cables; the lowest matching device index goes to
  // firstIndex (left as the caller set it when there is none).
  int countCables(int& firstIndex);
  // Number of attached devices of any description (0 when the driver cannot tell); clears
  // lastStatus whatever happened.
  std::uint32_t countDevices();

  bool open(int index);
  bool close();
  bool setBaudRate(std::uint32_t baud);
  bool setDataCharacteristics();
  bool setFlowControl();
  bool setTimeouts(std::uint32_t readMs, std::uint32_t writeMs);
  // Purges the driver's queues; a failure appends its line and the caller goes on.
  bool purge(std::uint32_t mask);
  // Reads and drops what arrives until nothing has arrived for the quiet interval, or until
  // the bound has passed, then purges both queues: a radio may still be answering a request of
  // a program that ended. The time-outs are put back as they were. True when the line fell
  // quiet within the bound.
  bool waitForQuietLine(std::chrono::milliseconds quiet, std::chrono::milliseconds bound);

  // The link starts no exchange on a port that is closed or whose last driver call failed.
  bool usable() const { return handle_.load() != nullptr && lastStatus_.load() == FT_OK; }
  bool isOpen() const { return handle_.load() != nullptr; }

  FT_STATUS lastStatus() const { return lastStatus_.load(); }
  void setLastStatus(FT_STATUS status) { lastStatus_.store(status); }
  std::uint32_t readTimeout() const { return readTimeout_; }
  std::uint32_t writeTimeout() const { return writeTimeout_; }
  std::uint32_t baudRate() const { return baudRate_; }
  std::int32_t comPort() const { return comPort_; }

  CableDriver& driver() { return driver_; }
  Clock& clock() { return clock_; }

 private:
  FT_STATUS record(FT_STATUS status) {
    lastStatus_.store(status);
    return status;
  }

  CableDriver& driver_;
  Clock& clock_;
  std::atomic<FT_HANDLE> handle_{nullptr};
  std::atomic<FT_STATUS> lastStatus_{FT_OK};
  std::uint32_t readTimeout_ = 0;
  std::uint32_t writeTimeout_ = 0;
  std::uint32_t baudRate_ = kDefaultBaudRate;
  std::int32_t comPort_ = 0;
  std::mutex portLock_;
  std::mutex listLock_;
};

}  // namespace orvik
