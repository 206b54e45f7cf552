#pragma once

#include <atomic>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "sim/sim_radio.h"

namespace orvik {

// Serves a SimRadio on a pseudo-terminal, so that the real tty path of the tool can be
// tested end to end: a client opens slavePath() like a serial port. The server keeps its own
// handle on the slave, so the master never sees a hangup when a client closes and the next
// client finds the radio still there. There is no baud over a pty, so none is checked.
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

  // Moves bytes between the pty and the radio until stop is requested, or until a
  // Disconnect fault makes the cable vanish (the pty is then closed). Returns at once when
  // the pty is not open.
  void serve(std::stop_token stop);
  void serve(const std::atomic<bool>& stop);

  // True once a Disconnect fault closed the pty.
  bool disconnected() const { return disconnected_.load(); }

 private:
  template <typename Stopped>
  void serveUntil(Stopped stopped);
  // One round: wait briefly for bytes, hand them to the radio, send what is pending.
  // False when serving must end.
  bool pump();
  void flushPending();
  void closeAll();

  SimRadio& radio_;
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string error_;
  std::atomic<bool> echo_{false};
  std::atomic<bool> disconnected_{false};
  // Bytes for the client that the pty did not take yet.
  std::vector<std::uint8_t> pending_;
};

}  // namespace orvik
