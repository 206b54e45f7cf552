#include "tests/support/scripted_cable_driver.h"

#include <algorithm>
#include <cstring>

namespace orvik::testing {

void ScriptedCableDriver::failNext(Call call, std::vector<FT_STATUS> statuses) {
  auto& queue = failures_[call];
  queue.insert(queue.end(), statuses.begin(), statuses.end());
}

void ScriptedCableDriver::arrive(std::span<const std::uint8_t> bytes) {
  incoming.insert(incoming.end(), bytes.begin(), bytes.end());
}

void ScriptedCableDriver::arrive(std::initializer_list<std::uint8_t> bytes) {
  incoming.insert(incoming.end(), bytes.begin(), bytes.end());
}

int ScriptedCableDriver::count(Call call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

FT_STATUS ScriptedCableDriver::next(Call call) {
  calls.push_back(call);
  auto it = failures_.find(call);
  if (it == failures_.end() || it->second.empty()) {
    return FT_OK;
  }
  const FT_STATUS status = it->second.front();
  it->second.pop_front();
  return status;
}

FT_STATUS ScriptedCableDriver::listDeviceCount(std::uint32_t& count) {
  const FT_STATUS status = next(Call::ListCount);
  if (status == FT_OK) {
    count = static_cast<std::uint32_t>(devices.size());
  }
  return status;
}

FT_STATUS ScriptedCableDriver::listDescription(std::uint32_t index, CableDescription& description) {
  FT_STATUS status = next(Call::ListDescription);
  if (status != FT_OK) {
    return status;
  }
  if (index >= devices.size()) {
    return FT_DEVICE_NOT_FOUND;
  }
  Device& device = devices[index];
  if (!device.listingStatuses.empty()) {
    status = device.listingStatuses.front();
    device.listingStatuses.pop_front();
    if (status != FT_OK) {
      return status;
    }
  }
  std::strncpy(description.data(), device.description.c_str(), description.size() - 1);
  return FT_OK;
}

FT_STATUS ScriptedCableDriver::open(int index, FT_HANDLE& handle) {
  const FT_STATUS status = next(Call::Open);
  if (status != FT_OK) {
    return status;
  }
  if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) {
    return FT_DEVICE_NOT_FOUND;
  }
  openIndex_ = index;
  open_ = true;
  handle = &handleToken_;
  return FT_OK;
}

FT_STATUS ScriptedCableDriver::getComPortNumber(FT_HANDLE, std::int32_t& comPort) {
  const FT_STATUS status = next(Call::GetComPortNumber);
  if (status == FT_OK) {
    comPort = devices[static_cast<std::size_t>(openIndex_)].comPort;
  }
  return status;
}

FT_STATUS ScriptedCableDriver::close(FT_HANDLE) {
  const FT_STATUS status = next(Call::Close);
  if (status == FT_OK) {
    open_ = false;
  }
  return status;
}

FT_STATUS ScriptedCableDriver::setBaudRate(FT_HANDLE, std::uint32_t baud) {
  const FT_STATUS status = next(Call::SetBaudRate);
  if (status == FT_OK) {
    baudRate = baud;
  }
  return status;
}

FT_STATUS ScriptedCableDriver::setDataCharacteristics(FT_HANDLE, std::uint8_t, std::uint8_t,
                                                      std::uint8_t) {
  return next(Call::SetDataCharacteristics);
}

FT_STATUS ScriptedCableDriver::setFlowControl(FT_HANDLE, std::uint16_t, std::uint8_t,
                                              std::uint8_t) {
  return next(Call::SetFlowControl);
}

FT_STATUS ScriptedCableDriver::setTimeouts(FT_HANDLE, std::uint32_t readMs, std::uint32_t writeMs) {
  const FT_STATUS status = next(Call::SetTimeouts);
  if (status == FT_OK) {
    readTimeoutMs = readMs;
    writeTimeoutMs = writeMs;
  }
  return status;
}

FT_STATUS ScriptedCableDriver::purge(FT_HANDLE, std::uint32_t mask) {
  const FT_STATUS status = next(Call::Purge);
  if (status == FT_OK) {
    purgeMasks.push_back(mask);
    if (mask & FT_PURGE_RX) {
      incoming.clear();
    }
  }
  return status;
}

FT_STATUS ScriptedCableDriver::read(FT_HANDLE, std::uint8_t* buffer, std::uint32_t toRead,
                                    std::uint32_t& received) {
  received = 0;
  const FT_STATUS status = next(Call::Read);
  if (status != FT_OK) {
    return status;
  }
  std::uint32_t n = std::min<std::uint32_t>(toRead, static_cast<std::uint32_t>(incoming.size()));
  if (maxBytesPerRead != 0) {
    n = std::min(n, maxBytesPerRead);
  }
  std::copy_n(incoming.begin(), n, buffer);
  incoming.erase(incoming.begin(), incoming.begin() + n);
  received = n;
  if (n > 0) {
    clock_.advance(readDelay);
  }
  if (n < toRead && incoming.empty()) {
    // Whatever did not arrive was waited for until the read time-out.
    clock_.advance(std::chrono::milliseconds(readTimeoutMs));
  }
  return FT_OK;
}

FT_STATUS ScriptedCableDriver::write(FT_HANDLE, const std::uint8_t* buffer, std::uint32_t toWrite,
                                     std::uint32_t& sent) {
  sent = 0;
  const FT_STATUS status = next(Call::Write);
  if (status != FT_OK) {
    return status;
  }
  const std::uint32_t n = maxBytesPerWrite != 0 ? std::min(toWrite, maxBytesPerWrite) : toWrite;
  written.insert(written.end(), buffer, buffer + n);
  sent = n;
  if (responder) {
    responder(std::span(buffer, n));
  }
  return FT_OK;
}

}  // namespace orvik::testing
