#include "link/usb_serial.h"

#include <strings.h>

#include <algorithm>
#include <array>

#include "errors/error_text.h"

namespace orvik {
namespace {

// A listing that reports the device as not opened is retried this many more times.
constexpr int kListingRetries = 13;
constexpr std::chrono::milliseconds kAccessDeniedWait{500};
constexpr std::chrono::milliseconds kGenFailureWait{10};
// Purge mask that the write loop sends before every driver write; it names neither queue.
constexpr std::uint32_t kWritePurgeMask = 4;

}  // namespace

USBSerial::USBSerial(CableDriver& driver, Clock& clock) : driver_(driver), clock_(clock) {}

USBSerial::~USBSerial() {
  if (isOpen()) {
    close();
  }
}

int USBSerial::countCables(int& firstIndex) {
  std::uint32_t devices = 0;
  {
    std::lock_guard lock(listLock_);
    const FT_STATUS status = driver_.listDeviceCount(devices);
    if (status != FT_OK) {
      record(status);
      return 0;
    }
  }
  std::lock_guard lock(portLock_);
  int matches = 0;
  FT_STATUS status = FT_OK;
  for (std::uint32_t index = 0; index < devices; ++index) {
    CableDescription description{};
    status = driver_.listDescription(index, description);
    for (int retry = 0; status == FT_DEVICE_NOT_OPENED && retry < kListingRetries; ++retry) {
      const std::uint32_t error = driver_.lastError();
      if (error == ERROR_ACCESS_DENIED) {
        clock_.sleep(kAccessDeniedWait);
      } else if (error == ERROR_GEN_FAILURE) {
        clock_.sleep(kGenFailureWait);
      } else {
        break;
      }
      description.fill('\0');
      status = driver_.listDescription(index, description);
    }
    if (status != FT_OK) {
      continue;
    }
    description.back() = '\0';
    if (strcasecmp(description.data(), kCableDescription) == 0) {
      if (matches == 0) {
        firstIndex = static_cast<int>(index);
      }
      ++matches;
    }
  }
  record(status);
  return matches;
}

std::uint32_t USBSerial::countDevices() {
  std::lock_guard lock(listLock_);
  std::uint32_t devices = 0;
  const FT_STATUS status = driver_.listDeviceCount(devices);
  lastStatus_.store(FT_OK);
  return status == FT_OK ? devices : 0;
}

bool USBSerial::open(int index) {
  if (isOpen() && !close()) {
    return false;
  }
  std::lock_guard lock(portLock_);
  FT_HANDLE handle = nullptr;
  FT_STATUS status = driver_.open(index, handle);
  if (status == FT_OK) {
    std::int32_t comPort = 0;
    status = driver_.getComPortNumber(handle, comPort);
    if (status == FT_OK) {
      comPort_ = comPort;
    } else {
      // The cable is of no use without its port number; give the handle back.
      driver_.close(handle);
    }
  }
  if (status != FT_OK) {
    handle_.store(nullptr);
    record(status);
    appendError(ErrorCategory::PROT, "Error:failed to open the port refered by the index [%d]",
                index);
    const std::string hint = driver_.openFailureHint();
    if (!hint.empty()) {
      appendError(ErrorCategory::PROT, "%s", hint.c_str());
    }
    return false;
  }
  handle_.store(handle);
  record(FT_OK);
  return true;
}

bool USBSerial::close() {
  FT_HANDLE handle = handle_.load();
  if (handle == nullptr) {
    return false;
  }
  std::lock_guard lock(portLock_);
  if (record(driver_.close(handle)) != FT_OK) {
    appendError(ErrorCategory::PROT, "Error:failed to close port");
    return false;
  }
  handle_.store(nullptr);
  return true;
}

bool USBSerial::setBaudRate(std::uint32_t baud) {
  FT_HANDLE handle = handle_.load();
  if (handle == nullptr) {
    return false;
  }
  if (record(driver_.setBaudRate(handle, baud)) != FT_OK) {
    appendError(ErrorCategory::PROT, "Error:failed to set baud rade [%d].", static_cast<int>(baud));
    return false;
  }
  baudRate_ = baud;
  return true;
}

bool USBSerial::setDataCharacteristics() {
  FT_HANDLE handle = handle_.load();
  if (handle == nullptr) {
    return false;
  }
  if (record(driver_.setDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE)) !=
      FT_OK) {
    appendError(ErrorCategory::PROT, "Error:failed to set parity data stop.");
    return false;
  }
  return true;
}

bool USBSerial::setFlowControl() {
  FT_HANDLE handle = handle_.load();
  if (handle == nullptr) {
    return false;
  }
  if (record(driver_.setFlowControl(handle, FT_FLOW_NONE, 0, 0)) != FT_OK) {
    appendError(ErrorCategory::PROT, "Error:failed to set flow.");
    return false;
  }
  return true;
}

bool USBSerial::setTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
  FT_HANDLE handle = handle_.load();
  if (handle == nullptr) {
    return false;
  }
  if (record(driver_.setTimeouts(handle, readMs, writeMs)) != FT_OK) {
    appendError(ErrorCategory::PROT, "Error:failed to configure time out.");
    return false;
  }
  readTimeout_ = readMs;
  writeTimeout_ = writeMs;
  return true;
}

bool USBSerial::purge(std::uint32_t mask) {
  FT_HANDLE handle = handle_.load();
  if (handle == nullptr) {
    return false;
  }
  if (record(driver_.purge(handle, mask)) != FT_OK) {
    appendError(ErrorCategory::PROT, "Error:failed to purge port.");
    return false;
  }
  return true;
}

bool USBSerial::waitForQuietLine(std::chrono::milliseconds quiet, std::chrono::milliseconds bound) {
  if (handle_.load() == nullptr) {
    return false;
  }
  const std::uint32_t savedRead = readTimeout_;
  const std::uint32_t savedWrite = writeTimeout_;
  setTimeouts(static_cast<std::uint32_t>(quiet.count()), savedWrite);
  const auto start = clock_.now();
  bool fellQuiet = false;
  std::array<std::uint8_t, 256> dropped{};
  while (usable() && clock_.now() - start < bound) {
    // One read lasts until its buffer is full or a whole read time-out brought nothing new.
    if (read(dropped.data(), static_cast<std::uint32_t>(dropped.size())) < dropped.size()) {
      fellQuiet = true;
      break;
    }
  }
  purge(FT_PURGE_RX | FT_PURGE_TX);
  setTimeouts(savedRead, savedWrite);
  return fellQuiet;
}

std::uint32_t USBSerial::read(std::uint8_t* buffer, std::uint32_t count) {
  FT_HANDLE handle = handle_.load();
  if (handle == nullptr || buffer == nullptr || count == 0) {
    return 0;
  }
  std::uint32_t total = 0;
  while (total < count) {
    std::uint32_t received = 0;
    if (record(driver_.read(handle, buffer + total, count - total, received)) != FT_OK) {
      break;
    }
    if (received == 0) {
      break;  // the read time-out passed with nothing new
    }
    total += std::min(received, count - total);
  }
  return total;
}

std::uint32_t USBSerial::write(const std::uint8_t* buffer, std::uint32_t count) {
  FT_HANDLE handle = handle_.load();
  if (handle == nullptr || buffer == nullptr || count == 0) {
    return 0;
  }
  std::uint32_t total = 0;
  while (total < count) {
    purge(kWritePurgeMask);
    std::uint32_t written = 0;
    if (record(driver_.write(handle, buffer + total, count - total, written)) != FT_OK) {
      break;
    }
    if (written == 0) {
      break;
    }
    total += std::min(written, count - total);
  }
  return total;
}

}  // namespace orvik
