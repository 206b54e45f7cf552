#include "sim/pty_radio_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvik {
namespace {

// Short enough that a stop request is seen promptly, long enough not to spin.
constexpr int kPollMs = 20;

std::string systemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyRadioServer::PtyRadioServer(SimRadio& radio) : radio_(radio) {}

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
  pollfd fd{master_, static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0};
  const int ready = poll(&fd, 1, kPollMs);
  if (ready < 0) {
    return errno == EINTR;
  }
  if (fd.revents & POLLIN) {
    std::array<std::uint8_t, 4096> buffer;
    const ssize_t n = ::read(master_, buffer.data(), buffer.size());
    if (n > 0) {
      const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(n));
      if (echo_.load()) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
      }
      radio_.receive(bytes);
      const std::vector<std::uint8_t> answer = radio_.takeOutput();
      pending_.insert(pending_.end(), answer.begin(), answer.end());
      if (radio_.takeDisconnect()) {
        // The cable vanishes after the partial answer: the client's next read fails.
        flushPending();
        closeAll();
        disconnected_.store(true);
        return false;
      }
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
  }
  flushPending();
  return true;
}

void PtyRadioServer::flushPending() {
  while (!pending_.empty()) {
    const ssize_t n = ::write(master_, pending_.data(), pending_.size());
    if (n <= 0) {
      // Full or interrupted: the rest goes when the pty takes it.
      return;
    }
    pending_.erase(pending_.begin(), pending_.begin() + n);
  }
}

}  // namespace orvik
