#include "cli/radio_session.h"

#include "link/tty_cable_driver.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"

namespace orvik {

RadioSession::RadioSession(const LinkChoice& choice) {
  if (choice.simulate) {
    radio_ = std::make_unique<SimRadio>();
    virtualClock_ = std::make_unique<VirtualClock>();
    driver_ = std::make_unique<SimCableDriver>(*radio_, *virtualClock_);
    clock_ = virtualClock_.get();
  } else {
    driver_ = makeTtyCableDriver(choice.port);
    clock_ = &systemClock();
  }
}

RadioSession::~RadioSession() = default;

}  // namespace orvik
