#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "sim/sim_radio.h"

namespace orvik {

// Serves a SimRadio on a pseudo-terminal, so that the real tty path of the tool can be
// tested end to end: a client opens slavePath() like a serial port. The server keeps its own
// handle on the slave, so the master never sees a hangup when a client closes and the next
// client finds the radio still there. A pty moves bytes at once and checks no baud; with line
// time kept, the server holds every answer until the request could have crossed a real line
// and sends it at the line's rate.
class PtyRadioServer {
 public:
  explicit PtyRadioServer(SimRadio& radio);
  ~PtyRadioServer();
  PtyRadioServer(const PtyRadioServer&) = delete;
  PtyRadioServer& operator=(const PtyRadioServer&) = delete;

  // Creates the pseudo-terminal; false with the reason in error().
  bool open();
  const std::string& slavePath() const { return slavePath_; }
  const std::string& error() const { return error_; }

  // A cable in its other mode returns every byte written before the radio's answer.
  void setEcho(bool on) { echo_.store(on); }

  // Keeps the time of a real line: a request is answered only once its last byte would have
  // arrived, plus the latency, and the answer's bytes go out one after another at the line's
  // rate. The rate is the one the client set on the port (16406 for the probe, 57600 after
  // it), or fallbackBaud when the port tells none. Call before serving.
  void keepLineTime(std::uint32_t fallbackBaud, std::chrono::microseconds latency);

  // Moves bytes between the pty and the radio until stop is requested, or until a
  // Disconnect fault makes the cable vanish (the pty is then closed). Returns at once when
  // the pty is not open.
  void serve(std::stop_token stop);
  void serve(const std::atomic<bool>& stop);

  // True once a Disconnect fault closed the pty.
  bool disconnected() const { return disconnected_.load(); }

 private:
  using Time = std::chrono::steady_clock::time_point;
  // A byte for the client and when its last bit arrives.
  struct Outgoing {
    std::uint8_t byte;
    Time due;
  };

  template <typename Stopped>
  void serveUntil(Stopped stopped);
  // One round: wait briefly for bytes, hand them to the radio, send what is due.
  // False when serving must end.
  bool pump();
  void flushPending();
  void closeAll();
  // Queues bytes for the client, the first leaving once the line is free after ready.
  void send(std::span<const std::uint8_t> bytes, Time ready);
  std::chrono::nanoseconds byteTime() const;
  // How long the next wait for bytes may last.
  std::chrono::nanoseconds waitTime(Time now) const;

  SimRadio& radio_;
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string error_;
  std::atomic<bool> echo_{false};
  std::atomic<bool> disconnected_{false};
  // Bytes for the client that are not yet due or that the pty did not take yet.
  std::deque<Outgoing> pending_;
  // A Disconnect fault closes the pty once the partial answer is out.
  bool disconnectWhenSent_ = false;

  std::optional<std::chrono::microseconds> latency_;  // set while line time is kept
  std::uint32_t fallbackBaud_ = 0;
  std::uint32_t baud_ = 0;  // the line's rate when the last bytes came in
  // When the line in each direction is free again.
  Time toRadioFree_{};
  Time toClientFree_{};
};

}  // namespace orvik
