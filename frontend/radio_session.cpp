#include "frontend/radio_session.h"

#include <filesystem>
#include <sstream>

#include "app/application.h"
#include "errors/error_log.h"
#include "link/tty_cable_driver.h"
#include "pack/demo_package.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"

namespace orvik {

RadioSession::RadioSession(const LinkChoice& choice) {
  if (choice.simulate) {
    radio_ = std::make_unique<SimRadio>();
    virtualClock_ = std::make_unique<VirtualClock>();
    auto cable = std::make_unique<SimCableDriver>(*radio_, *virtualClock_);
    simCable_ = cable.get();
    driver_ = std::move(cable);
    clock_ = virtualClock_.get();
  } else {
    driver_ = makeTtyCableDriver(choice.port);
    clock_ = &systemClock();
  }
}

RadioSession::~RadioSession() = default;

bool RadioSession::start(Application& application, const StartupOptions& startup, bool trace,
                         std::ostream& err) {
  // The monitor counts once a real second even when the simulated link answers at once.
  application.radioManager().setMonitorClock(systemClock());
  if (radio_) {
    application.useDemoPackage();
    application.useSimulatedMachine();
  }
  if (!application.PrepareEnvironment()) {
    err << "Cannot prepare the per-machine folder; see " << errorLog().path().string() << '\n';
    return false;
  }
  if (radio_) {
    if (!startup.packageDir && !std::filesystem::exists(application.setupPath())) {
      // The simulated machine comes with the demo package's setup file.
      std::ostringstream written;
      std::string error;
      if (!writeDemoSetup(application.setupPath(), written, error)) {
        err << error << '\n';
      }
    }
  } else {
    std::string error;
    if (application.takeInstalledSetup(application.installedSetupPath(), error) ==
        Application::SetupCopy::Failed) {
      err << error << '\n';
    }
  }
  if (!application.LoadSettings()) {
    err << "See " << errorLog().path().string() << '\n';
    return false;
  }
  if (trace) {
    if (trace_.enable(defaultTracePath())) {
      application.radioManager().radioInfo()->engine().setTrace(&trace_);
    } else {
      err << "Cannot write the frame trace to " << defaultTracePath().string() << '\n';
    }
  }
  return true;
}

}  // namespace orvik
