#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "link/cable_driver.h"

namespace orvik {

class SimRadio;

// Where the radio link of one run of the terminal tool comes from: the simulated radio in
// process, a given port, or the attached programming cables.
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

 private:
  std::unique_ptr<SimRadio> radio_;
  std::unique_ptr<VirtualClock> virtualClock_;
  std::unique_ptr<CableDriver> driver_;
  Clock* clock_ = nullptr;
};

}  // namespace orvik
