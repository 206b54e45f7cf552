#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/clock.h"
#include "codeplug/cpg.h"
#include "link/tovr.h"
#include "link/usb_serial.h"
#include "package/flash.h"

namespace orvik {

// The one record of the connected radio: what was read from it, whether the cable is open,
// the cable port and TOVR engine through which everything reaches it, and the readers of the
// firmware image and codeplug blocks that an update programs.
class RadioInfo {
 public:
  static constexpr std::size_t kSerialSize = 11;
  static constexpr std::size_t kModelSize = 11;
  static constexpr std::size_t kVersionRecordSize = 4;
  static constexpr std::size_t kPrivateIdSize = 12;
  static constexpr std::size_t kAnswerSize = 256;

  // Identity items of the status query.
  static constexpr std::uint8_t kKeypadKindItem = 0x0D;
  static constexpr std::uint8_t kModelItem = 0x00;
  static constexpr std::uint8_t kFirmwareItem = 0x03;
  static constexpr std::uint8_t kKeypadVersionItem = 0x08;
  static constexpr std::uint8_t kCodeplugItem = 0x04;
  static constexpr std::uint8_t kSerialItem = 0x01;

  using VersionRecord = std::array<std::uint8_t, kVersionRecordSize>;

  RadioInfo(CableDriver& driver, Clock& clock);
  virtual ~RadioInfo();
  RadioInfo(const RadioInfo&) = delete;
  RadioInfo& operator=(const RadioInfo&) = delete;

  // Opens the cable at the device index, sets the line up, probes the cable mode and switches
  // to the link's baud rate. Returns the connected flag; when it is false the port is closed.
  bool openCable(int index);
  // Closes the cable (when open) and clears the connection flags; true when nothing was open
  // or the close succeeded.
  bool closeCable();
  // Reads every identity item in order; the first that fails ends the read. An item answered
  // under the opcode of another request's answer (the radio still answering an earlier
  // request) fails the read too, and answersOutOfStep says so.
  bool readIdentity();
  bool answersOutOfStep() const { return outOfStep_; }
  // Waits, bounded, until nothing has arrived for the quiet interval, then purges the line:
  // the radio has said all it had to say.
  void waitForQuietLine(std::chrono::milliseconds quiet);

  // At connect: a few byte-times at the probe's rate plus the longest the radio may take to
  // begin an identity answer.
  static constexpr std::chrono::milliseconds kQuietInterval{110};
  // After an identity read that got no answer or answers out of step: the radio may still be
  // taking in the longest request (4109 bytes at 57600 baud, 714 ms) that a program which
  // ended had handed over, and then take as long as a flash command's answer may take
  // (600 ms) before it answers; the line is silent all that while.
  static constexpr std::chrono::milliseconds kBusyRadioQuiet{1400};
  // A line that never falls quiet is given up on after this; the probe and the identity
  // read then tell what is wrong.
  static constexpr std::chrono::milliseconds kQuietBound{4000};

  // Display texts; no text where the bytes do not make one.
  static std::optional<std::string> serialText(std::span<const std::uint8_t> bytes);
  static std::optional<std::string> modelText(std::span<const std::uint8_t> bytes);
  static std::string regionText(std::int8_t regionCode);
  static std::optional<std::string> versionRecordText(std::span<const std::uint8_t> record);
  static std::optional<std::string> privateIdText(std::span<const std::uint8_t> privateId);

  // The radio's serial number as read: serialLength bytes.
  std::span<const std::uint8_t> serialBytes() const {
    return std::span(serialNumber).first(static_cast<std::size_t>(serialLength));
  }

  USBSerial& port() { return port_; }
  TOVR& engine() { return engine_; }
  Flash& flash() { return flash_; }
  Cpg& cpg() { return cpg_; }
  // Every fixed wait of a radio command goes through this clock.
  Clock& clock() { return port_.clock(); }

  std::int8_t regionCode = -1;
  std::array<std::uint8_t, kSerialSize> serialNumber{};
  std::array<std::uint8_t, kModelSize> modelNumber{};
  VersionRecord firmwareVersionRecord{};
  VersionRecord codeplugVersionRecord{};
  std::array<std::uint8_t, kPrivateIdSize> privateId{};
  VersionRecord keypadVersionRecord{};
  std::int32_t serialLength = kSerialSize;
  std::uint8_t keypadKind = 0;
  std::int32_t portIndex = -1;
  std::atomic<bool> connected{false};  // also read by the cable monitor
  bool identityValid = false;

 private:
  USBSerial port_;
  TOVR engine_;
  Flash flash_;
  Cpg cpg_;
  bool outOfStep_ = false;
};

}  // namespace orvik
