#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "base/clock.h"
#include "link/cable_driver.h"
#include "link/frame_trace.h"

namespace orvik {

class Application;
struct StartupOptions;
class SimCableDriver;
class SimRadio;

// Where the radio link of one run of the tool comes from: the simulated radio in process, a
// given port, or the attached programming cables.
struct LinkChoice {
  bool simulate = false;
  std::optional<std::string> port;
};

// The driver and clock of one run. The simulated radio answers at once and counts its waits
// on a virtual clock; a real cable waits in real time.
class RadioSession {
 public:
  explicit RadioSession(const LinkChoice& choice);
  ~RadioSession();
  RadioSession(const RadioSession&) = delete;
  RadioSession& operator=(const RadioSession&) = delete;

  CableDriver& driver() { return *driver_; }
  Clock& clock() { return *clock_; }
  // The simulated radio, when there is one.
  SimRadio* simulatedRadio() { return radio_.get(); }
  // The simulated radio's cable, when there is one (it can be pulled and put back).
  SimCableDriver* simulatedCable() { return simCable_; }

  // The start-up both front ends share once the application is made on this session's driver
  // and clock: the cable monitor paced by real seconds, the per-machine folder (the simulated
  // machine's own one on the simulated radio), the demo setup file of a simulated machine
  // without its own package or else the installation's setup file for a machine without one,
  // the settings and, when asked, the frame trace. Tells `err` what stops the run, and returns
  // false then.
  bool start(Application& application, const StartupOptions& startup, bool trace,
             std::ostream& err);

 private:
  // The application's engine writes to it; the session is made before the application.
  FrameTrace trace_;
  std::unique_ptr<SimRadio> radio_;
  std::unique_ptr<VirtualClock> virtualClock_;
  std::unique_ptr<CableDriver> driver_;
  SimCableDriver* simCable_ = nullptr;
  Clock* clock_ = nullptr;
};

}  // namespace orvik
