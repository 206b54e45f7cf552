#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/cable_driver.h"

namespace orvik {

// Line settings beyond the ones the cable port asks for, with the converter driver's values.
inline constexpr std::uint8_t FT_BITS_7 = 7;
inline constexpr std::uint8_t FT_STOP_BITS_2 = 2;
inline constexpr std::uint8_t FT_PARITY_ODD = 1;
inline constexpr std::uint8_t FT_PARITY_EVEN = 2;
inline constexpr std::uint16_t FT_FLOW_RTS_CTS = 0x0100;
inline constexpr std::uint16_t FT_FLOW_XON_XOFF = 0x0400;

// The cable driver for Linux: programming cables are FTDI converters bound to the kernel's
// ftdi_sio driver and show up as /dev/ttyUSBn. The converters are found through sysfs, the
// line is driven through termios2 (any baud rate, 16406 included) and time-outs are poll()
// deadlines. With an override path it instead offers exactly one cable, that path, which may
// be any tty or pseudo-terminal (the simulated radio serves one).
class TtyCableDriver : public CableDriver {
 public:
  struct Options {
    // Both roots are configurable so that tests can build a fake tree in a temp folder.
    std::string sysfsRoot = "/sys";
    std::string deviceRoot = "/dev";
    std::optional<std::string> overridePath;
  };

  TtyCableDriver();
  explicit TtyCableDriver(Options options);
  ~TtyCableDriver() override;
  TtyCableDriver(const TtyCableDriver&) = delete;
  TtyCableDriver& operator=(const TtyCableDriver&) = delete;

  FT_STATUS listDeviceCount(std::uint32_t& count) override;
  FT_STATUS listDescription(std::uint32_t index, CableDescription& description) override;
  std::uint32_t lastError() override;

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

  std::string openFailureHint() override;
  std::string noCableHint() override;

  // The system error value the listing retries look at, for an errno.
  static std::uint32_t systemErrorFor(int error);
  // The line openFailureHint() gives when opening the path failed with the errno.
  static std::string openFailureHintFor(int error, const std::string& path);
  // Why an override path cannot be the cable (an errno; ENOTTY when it is no character
  // device), or 0 while it names a character device.
  static int overridePortProblem(const std::string& path);
  // The device file a path names, its symbolic links followed; the path itself when it cannot
  // be resolved.
  static std::string devicePathOf(std::string_view path);
  // The port number of an override path: the trailing decimal digits of the file name of the
  // device it names (ttyUSB<n> and /dev/pts/<n> give n), or 0.
  static std::int32_t portNumberFromPath(std::string_view path);
  // /dev/ttyUSB<n> for a converter's number; the resolved override path when there is one.
  std::string comPortDevice(std::int32_t comPort) override;

  // Where a converter of the last listing is: its device file, and what tells it from the
  // others however the system numbers it.
  struct Place {
    std::string device;     // <dev>/ttyUSB<n>, or the override path
    std::string usbSerial;  // the converter's USB serial number; empty when it has none
    std::string byId;       // the name of its link in <dev>/serial/by-id; empty when none
  };
  std::optional<Place> listPlace(std::uint32_t index);

 private:
  struct Port;
  struct Converter {
    std::string name;  // "ttyUSB<n>"
    std::int32_t number = 0;
  };

  std::vector<Converter> enumerate();
  // The open port behind a handle, or null for a handle this driver did not give out.
  Port* find(FT_HANDLE handle);
  FT_STATUS fail(FT_STATUS status, int error);
  FT_STATUS openPath(const std::string& path, std::int32_t comPort, FT_HANDLE& handle);

  Options options_;
  std::atomic<int> lastErrno_{0};

  std::mutex listMutex_;
  std::vector<Converter> converters_;
  bool enumerated_ = false;

  std::mutex portMutex_;
  std::vector<std::unique_ptr<Port>> ports_;
  int openErrno_ = 0;
  std::string openPath_;
};

// The programming cables attached now (converters with the cable's description), in the
// order of their numbers.
std::vector<TtyCableDriver::Place> listProgrammingCables(TtyCableDriver& driver);

// The driver the tools use: the explicit override path, else ORVIK_PORT when it is set and
// not empty, else the converters found in sysfs.
std::unique_ptr<CableDriver> makeTtyCableDriver(std::optional<std::string> portOverride);

}  // namespace orvik
