#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orvik {

// Status codes and constants of the cable driver calls, with the values of the USB-serial
// converter's vendor driver, so that statuses read the same in logs and failure reports.
using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
inline constexpr FT_STATUS FT_INVALID_BAUD_RATE = 7;
inline constexpr FT_STATUS FT_NOT_SUPPORTED = 17;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;

inline constexpr std::uint8_t FT_BITS_8 = 8;
inline constexpr std::uint8_t FT_STOP_BITS_1 = 0;
inline constexpr std::uint8_t FT_PARITY_NONE = 0;
inline constexpr std::uint16_t FT_FLOW_NONE = 0x0000;
inline constexpr std::uint32_t FT_PURGE_RX = 1;
inline constexpr std::uint32_t FT_PURGE_TX = 2;

// "Last error" values that the device listing retries look at.
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_GEN_FAILURE = 31;

// Size of the description buffer of a listing, terminator included.
inline constexpr std::size_t kCableDescriptionSize = 64;
using CableDescription = std::array<char, kCableDescriptionSize>;

// The description every programming cable reports.
inline constexpr const char* kCableDescription = "VL CPS Cable";

// The calls the cable port makes on the USB-serial converter, one virtual per driver call,
// with the driver's statuses. Backends: the Linux tty driver (and its one-device override),
// the in-process simulated cable, and a scripted fake in the tests.
class CableDriver {
 public:
  virtual ~CableDriver() = default;

  // Number of converters attached, of any description.
  virtual FT_STATUS listDeviceCount(std::uint32_t& count) = 0;
  // Description of the converter at the index, zero-terminated within the buffer.
  virtual FT_STATUS listDescription(std::uint32_t index, CableDescription& description) = 0;
  // The system's last error after a failed call (ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE, ...).
  virtual std::uint32_t lastError() = 0;

  virtual FT_STATUS open(int index, FT_HANDLE& handle) = 0;
  virtual FT_STATUS getComPortNumber(FT_HANDLE handle, std::int32_t& comPort) = 0;
  virtual FT_STATUS close(FT_HANDLE handle) = 0;
  virtual FT_STATUS setBaudRate(FT_HANDLE handle, std::uint32_t baud) = 0;
  virtual FT_STATUS setDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                           std::uint8_t stopBits, std::uint8_t parity) = 0;
  virtual FT_STATUS setFlowControl(FT_HANDLE handle, std::uint16_t flow, std::uint8_t xon,
                                   std::uint8_t xoff) = 0;
  virtual FT_STATUS setTimeouts(FT_HANDLE handle, std::uint32_t readMs, std::uint32_t writeMs) = 0;
  // Mask bits FT_PURGE_RX and FT_PURGE_TX; other bits purge nothing.
  virtual FT_STATUS purge(FT_HANDLE handle, std::uint32_t mask) = 0;
  // Waits up to the read time-out for all bytes; fewer bytes with FT_OK mean it ran out.
  virtual FT_STATUS read(FT_HANDLE handle, std::uint8_t* buffer, std::uint32_t toRead,
                         std::uint32_t& received) = 0;
  virtual FT_STATUS write(FT_HANDLE handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                          std::uint32_t& written) = 0;

  // Why the last open failed, with what the user can do about it; empty when there is
  // nothing to add to the failure line.
  virtual std::string openFailureHint() { return {}; }
  // Why the listing found no programming cable, with what the user can do about it; empty
  // when there is nothing to say.
  virtual std::string noCableHint() { return {}; }
  // The device file that a port number from getComPortNumber stands for, so that another
  // program (the keypad boot-loader) can open the same cable; empty when there is none.
  virtual std::string comPortDevice(std::int32_t /*comPort*/) { return {}; }
};

}  // namespace orvik
