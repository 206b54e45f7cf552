#include "sim/pty_radio_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sim/pty_line_rate.h"

namespace orvik {
namespace {

using Clock = std::chrono::steady_clock;

// Short enough that a stop request is seen promptly, long enough not to spin.
constexpr std::chrono::milliseconds kPollTime{20};
// Bytes due within this time go out together, so that an answer at line rate does not cost a
// wake-up per byte.
constexpr std::chrono::milliseconds kBatchTime{1};
constexpr std::int64_t kBitsPerByte = 10;  // start bit, eight data bits, stop bit

std::string systemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyRadioServer::PtyRadioServer(SimRadio& radio) : radio_(radio) {}

void PtyRadioServer::keepLineTime(std::uint32_t fallbackBaud, std::chrono::microseconds latency) {
  fallbackBaud_ = fallbackBaud;
  latency_ = latency;
}

std::chrono::nanoseconds PtyRadioServer::byteTime() const {
  if (!latency_ || baud_ == 0) {
    return std::chrono::nanoseconds(0);
  }
  return std::chrono::nanoseconds(kBitsPerByte * 1'000'000'000 / baud_);
}

void PtyRadioServer::send(std::span<const std::uint8_t> bytes, Time ready) {
  const auto perByte = byteTime();
  Time due = std::max(ready, toClientFree_);
  for (const std::uint8_t byte : bytes) {
    due += perByte;
    pending_.push_back(Outgoing{byte, due});
  }
  toClientFree_ = due;
}

std::chrono::nanoseconds PtyRadioServer::waitTime(Time now) const {
  if (pending_.empty()) {
    return kPollTime;
  }
  // Up to the next byte that is due, taking along those due soon after it.
  const Time wake = std::max(pending_.front().due, std::min(now + kBatchTime, pending_.back().due));
  return std::clamp<std::chrono::nanoseconds>(wake - now, std::chrono::nanoseconds(0), kPollTime);
}

PtyRadioServer::~PtyRadioServer() {
  closeAll();
}

bool PtyRadioServer::open() {
  closeAll();
  disconnected_.store(false);
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    error_ = systemError("posix_openpt");
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error_ = systemError("grantpt/unlockpt");
    closeAll();
    return false;
  }
  std::array<char, 128> name{};
  if (ptsname_r(master_, name.data(), name.size()) != 0) {
    error_ = systemError("ptsname_r");
    closeAll();
    return false;
  }
  slavePath_ = name.data();
  slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error_ = systemError("open slave");
    closeAll();
    return false;
  }
  // Raw, so that a client that sets nothing still gets every byte unchanged and no echo
  // from the line discipline.
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) {
    error_ = systemError("tcgetattr");
    closeAll();
    return false;
  }
  cfmakeraw(&tio);
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
    error_ = systemError("tcsetattr");
    closeAll();
    return false;
  }
  // Non-blocking, so that a client that stops reading cannot stall the server.
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0 ||
      fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
    error_ = systemError("fcntl");
    closeAll();
    return false;
  }
  return true;
}

void PtyRadioServer::closeAll() {
  if (slave_ >= 0) {
    ::close(slave_);
    slave_ = -1;
  }
  if (master_ >= 0) {
    ::close(master_);
    master_ = -1;
  }
  pending_.clear();
  disconnectWhenSent_ = false;
}

void PtyRadioServer::serve(std::stop_token stop) {
  serveUntil([&stop] { return stop.stop_requested(); });
}

void PtyRadioServer::serve(const std::atomic<bool>& stop) {
  serveUntil([&stop] { return stop.load(); });
}

template <typename Stopped>
void PtyRadioServer::serveUntil(Stopped stopped) {
  while (master_ >= 0 && !stopped()) {
    if (!pump()) {
      break;
    }
  }
}

bool PtyRadioServer::pump() {
  // With bytes due, wait only for the pty to take them; otherwise for the client's bytes or
  // until the next byte is due.
  const Time now = Clock::now();
  const bool due = !pending_.empty() && pending_.front().due <= now;
  pollfd fd{master_, static_cast<short>(POLLIN | (due ? POLLOUT : 0)), 0};
  const auto wait = due ? std::chrono::nanoseconds(kPollTime) : waitTime(now);
  const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                         static_cast<long>(wait.count() % 1'000'000'000)};
  const int ready = ppoll(&fd, 1, &timeout, nullptr);
  if (ready < 0) {
    return errno == EINTR;
  }
  if (fd.revents & POLLIN) {
    std::array<std::uint8_t, 4096> buffer;
    const ssize_t n = ::read(master_, buffer.data(), buffer.size());
    if (n > 0) {
      const Time arrived = Clock::now();
      const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(n));
      // The bytes cross the line at the rate the client set, starting when they were written
      // (just now: a pty passes them on at once) or once the line is free again.
      if (latency_) {
        const std::uint32_t rate = ptyLineRate(master_);
        baud_ = rate != 0 ? rate : fallbackBaud_;
      }
      const Time start = std::max(arrived, toRadioFree_);
      toRadioFree_ = start + byteTime() * static_cast<std::int64_t>(bytes.size());
      if (echo_.load()) {
        // The cable hands back every byte as it goes out.
        send(bytes, start);
      }
      radio_.receive(bytes);
      const std::vector<std::uint8_t> answer = radio_.takeOutput();
      send(answer, toRadioFree_ + latency_.value_or(std::chrono::microseconds(0)));
      if (radio_.takeDisconnect()) {
        // The cable vanishes after the partial answer: the client's next read fails.
        disconnectWhenSent_ = true;
      }
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
  }
  flushPending();
  if (disconnectWhenSent_ && pending_.empty()) {
    closeAll();
    disconnected_.store(true);
    return false;
  }
  return true;
}

void PtyRadioServer::flushPending() {
  const Time now = Clock::now();
  std::vector<std::uint8_t> bytes;
  for (const Outgoing& outgoing : pending_) {
    if (outgoing.due > now) {
      break;
    }
    bytes.push_back(outgoing.byte);
  }
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) {
      // Full or interrupted: the rest goes when the pty takes it.
      break;
    }
    sent += static_cast<std::size_t>(n);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(sent));
}

}  // namespace orvik
