#include "sim/sim_cable_driver.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace orvik {

namespace {

constexpr std::int64_t kBitsPerByte = 10;  // start bit, eight data bits, stop bit

}  // namespace

SimCableDriver::SimCableDriver(SimRadio& radio, VirtualClock& clock)
    : radio_(radio), clock_(clock) {}

void SimCableDriver::keepLineTime(std::chrono::microseconds latency) {
  std::lock_guard lock(mutex_);
  latency_ = latency;
}

SimCableDriver::Nanoseconds SimCableDriver::now() {
  now_ = std::max<Nanoseconds>(now_, clock_.now());
  return now_;
}

void SimCableDriver::advanceTo(Nanoseconds time) {
  now_ = std::max(now(), time);
  const auto clockNow = clock_.now();
  const auto target = std::chrono::floor<std::chrono::milliseconds>(now_);
  if (target > clockNow) {
    clock_.advance(target - clockNow);
  }
}

SimCableDriver::Nanoseconds SimCableDriver::byteTime() const {
  if (!latency_ || baud_ == 0) {
    return Nanoseconds(0);
  }
  return Nanoseconds(kBitsPerByte * 1'000'000'000 / baud_);
}

void SimCableDriver::sendToPc(std::span<const std::uint8_t> bytes, Nanoseconds ready) {
  const Nanoseconds perByte = byteTime();
  Nanoseconds due = std::max(ready, toPcFree_);
  for (const std::uint8_t byte : bytes) {
    due += perByte;
    rx_.push_back(Arriving{byte, due});
  }
  toPcFree_ = due;
}

void SimCableDriver::sendFromEndedProgram(std::span<const std::uint8_t> bytes, std::uint32_t baud) {
  std::lock_guard lock(mutex_);
  const Nanoseconds perByte =
      latency_ && baud != 0 ? Nanoseconds(kBitsPerByte * 1'000'000'000 / baud) : Nanoseconds(0);
  const Nanoseconds start = std::max(now(), toRadioFree_);
  const Nanoseconds sent = start + perByte * static_cast<std::int64_t>(bytes.size());
  toRadioFree_ = sent;
  radio_.receive(bytes, baud);
  collectAnswers(sent + latency_.value_or(std::chrono::microseconds(0)));
}

void SimCableDriver::dropArrived() {
  if (!latency_) {
    rx_.clear();
    return;
  }
  const Nanoseconds time = now();
  while (!rx_.empty() && rx_.front().due <= time) {
    rx_.pop_front();
  }
}

void SimCableDriver::setDevices(std::vector<Device> devices) {
  std::lock_guard lock(mutex_);
  devices_ = std::move(devices);
}

void SimCableDriver::addDevice(Device device) {
  std::lock_guard lock(mutex_);
  devices_.push_back(std::move(device));
}

void SimCableDriver::setEcho(bool on) {
  std::lock_guard lock(mutex_);
  echo_ = on;
}

void SimCableDriver::disconnect() {
  std::lock_guard lock(mutex_);
  vanish();
}

void SimCableDriver::reconnect() {
  std::lock_guard lock(mutex_);
  connected_ = true;
  // Whatever the radio had started to say went with the old connection.
  radio_.clearOutput();
  radio_.clearInput();
  rx_.clear();
}

bool SimCableDriver::connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

void SimCableDriver::vanish() {
  connected_ = false;
  if (open_) {
    staleHandle_ = true;
  }
  open_ = false;
  rx_.clear();
}

bool SimCableDriver::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::uint32_t SimCableDriver::baudRate() const {
  std::lock_guard lock(mutex_);
  return baud_;
}

std::uint8_t SimCableDriver::wordLength() const {
  std::lock_guard lock(mutex_);
  return wordLength_;
}

std::uint8_t SimCableDriver::stopBits() const {
  std::lock_guard lock(mutex_);
  return stopBits_;
}

std::uint8_t SimCableDriver::parity() const {
  std::lock_guard lock(mutex_);
  return parity_;
}

std::uint16_t SimCableDriver::flowControl() const {
  std::lock_guard lock(mutex_);
  return flow_;
}

std::uint32_t SimCableDriver::readTimeoutMs() const {
  std::lock_guard lock(mutex_);
  return readTimeoutMs_;
}

std::uint32_t SimCableDriver::writeTimeoutMs() const {
  std::lock_guard lock(mutex_);
  return writeTimeoutMs_;
}

std::vector<std::uint32_t> SimCableDriver::purgeMasks() const {
  std::lock_guard lock(mutex_);
  return purgeMasks_;
}

std::vector<std::uint8_t> SimCableDriver::written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

std::size_t SimCableDriver::pendingRead() const {
  std::lock_guard lock(mutex_);
  return rx_.size();
}

FT_STATUS SimCableDriver::check(FT_HANDLE handle) const {
  if (!connected_) {
    return FT_IO_ERROR;
  }
  if (!open_ || handle != static_cast<const void*>(&handleToken_)) {
    return FT_INVALID_HANDLE;
  }
  return FT_OK;
}

FT_STATUS SimCableDriver::listDeviceCount(std::uint32_t& count) {
  std::lock_guard lock(mutex_);
  count = connected_ ? static_cast<std::uint32_t>(devices_.size()) : 0;
  return FT_OK;
}

FT_STATUS SimCableDriver::listDescription(std::uint32_t index, CableDescription& description) {
  std::lock_guard lock(mutex_);
  if (!connected_) {
    return FT_IO_ERROR;
  }
  if (index >= devices_.size()) {
    return FT_DEVICE_NOT_FOUND;
  }
  description.fill('\0');
  std::strncpy(description.data(), devices_[index].description.c_str(), description.size() - 1);
  return FT_OK;
}

FT_STATUS SimCableDriver::open(int index, FT_HANDLE& handle) {
  std::lock_guard lock(mutex_);
  if (!connected_) {
    return FT_DEVICE_NOT_OPENED;
  }
  if (index < 0 || static_cast<std::size_t>(index) >= devices_.size()) {
    return FT_DEVICE_NOT_FOUND;
  }
  // The converter takes one owner at a time.
  if (open_) {
    return FT_DEVICE_NOT_OPENED;
  }
  open_ = true;
  staleHandle_ = false;
  openIndex_ = index;
  baud_ = kPowerOnBaud;
  dropArrived();
  handle = &handleToken_;
  return FT_OK;
}

FT_STATUS SimCableDriver::getComPortNumber(FT_HANDLE handle, std::int32_t& comPort) {
  std::lock_guard lock(mutex_);
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  comPort = devices_[static_cast<std::size_t>(openIndex_)].comPort;
  return FT_OK;
}

FT_STATUS SimCableDriver::close(FT_HANDLE handle) {
  std::lock_guard lock(mutex_);
  if (connected_ && staleHandle_ && handle == static_cast<void*>(&handleToken_)) {
    // The handle of the cable that went away is released without complaint.
    staleHandle_ = false;
    return FT_OK;
  }
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  open_ = false;
  dropArrived();
  return FT_OK;
}

FT_STATUS SimCableDriver::setBaudRate(FT_HANDLE handle, std::uint32_t baud) {
  std::lock_guard lock(mutex_);
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  if (baud == 0) {
    return FT_INVALID_BAUD_RATE;
  }
  baud_ = baud;
  return FT_OK;
}

FT_STATUS SimCableDriver::setDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                                 std::uint8_t stopBits, std::uint8_t parity) {
  std::lock_guard lock(mutex_);
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  wordLength_ = wordLength;
  stopBits_ = stopBits;
  parity_ = parity;
  return FT_OK;
}

FT_STATUS SimCableDriver::setFlowControl(FT_HANDLE handle, std::uint16_t flow, std::uint8_t,
                                         std::uint8_t) {
  std::lock_guard lock(mutex_);
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  flow_ = flow;
  return FT_OK;
}

FT_STATUS SimCableDriver::setTimeouts(FT_HANDLE handle, std::uint32_t readMs,
                                      std::uint32_t writeMs) {
  std::lock_guard lock(mutex_);
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  readTimeoutMs_ = readMs;
  writeTimeoutMs_ = writeMs;
  return FT_OK;
}

FT_STATUS SimCableDriver::purge(FT_HANDLE handle, std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  purgeMasks_.push_back(mask);
  if (mask & FT_PURGE_RX) {
    // Only what has arrived is dropped; bytes still on the line come in after the purge.
    const Nanoseconds time = now();
    collectAnswers(time);
    while (!rx_.empty() && rx_.front().due <= time) {
      rx_.pop_front();
    }
  }
  return FT_OK;
}

FT_STATUS SimCableDriver::read(FT_HANDLE handle, std::uint8_t* buffer, std::uint32_t toRead,
                               std::uint32_t& received) {
  received = 0;
  std::lock_guard lock(mutex_);
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  if (buffer == nullptr && toRead != 0) {
    return FT_INVALID_PARAMETER;
  }
  const Nanoseconds start = now();
  collectAnswers(start);
  // The read ends when the last byte asked for arrives, or at its time-out with what came.
  const Nanoseconds limit = start + std::chrono::milliseconds(readTimeoutMs_);
  std::uint32_t n = 0;
  while (n < toRead && n < rx_.size() && rx_[n].due <= limit) {
    buffer[n] = rx_[n].byte;
    ++n;
  }
  received = n;
  if (n < toRead) {
    advanceTo(limit);
  } else if (n > 0) {
    advanceTo(rx_[n - 1].due);
  }
  rx_.erase(rx_.begin(), rx_.begin() + n);
  return FT_OK;
}

FT_STATUS SimCableDriver::write(FT_HANDLE handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                                std::uint32_t& written) {
  written = 0;
  std::lock_guard lock(mutex_);
  if (const FT_STATUS status = check(handle); status != FT_OK) {
    return status;
  }
  if (buffer == nullptr && toWrite != 0) {
    return FT_INVALID_PARAMETER;
  }
  // The write returns once its bytes have left, or at its time-out with those that did.
  const Nanoseconds start = std::max(now(), toRadioFree_);
  const Nanoseconds perByte = byteTime();
  std::uint32_t fits = toWrite;
  if (perByte.count() > 0) {
    const Nanoseconds limit = now_ + std::chrono::milliseconds(writeTimeoutMs_);
    const auto room = limit > start ? (limit - start) / perByte : 0;
    fits = static_cast<std::uint32_t>(std::min<std::int64_t>(toWrite, room));
  }
  const Nanoseconds sent = start + perByte * fits;
  toRadioFree_ = sent;
  const std::span<const std::uint8_t> bytes(buffer, fits);
  written_.insert(written_.end(), bytes.begin(), bytes.end());
  collectAnswers(now_);
  if (echo_) {
    // The cable hands back every byte as it goes out.
    sendToPc(bytes, start);
  }
  radio_.receive(bytes, baud_);
  written = fits;
  advanceTo(fits == toWrite ? sent : now_ + std::chrono::milliseconds(writeTimeoutMs_));
  if (radio_.takeDisconnect()) {
    // The write went out; what follows finds no cable.
    vanish();
    return FT_OK;
  }
  collectAnswers(sent + latency_.value_or(std::chrono::microseconds(0)));
  return FT_OK;
}

void SimCableDriver::collectAnswers(Nanoseconds ready) {
  const std::vector<std::uint8_t> answers = radio_.takeOutput();
  sendToPc(answers, ready);
}

}  // namespace orvik
