#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/keypad_script.h"

namespace orvik::testing {

// Starts the boot-loader script as a real process, and lets it run to its end before the
// keypad command reads its exit code: the command's cycles pass on a virtual clock in no time,
// where a real run gives the script minutes. A script that has not ended within `patience`
// is read as still running.
class ScriptEndsInTimeLauncher final : public KeypadScriptLauncher {
 public:
  explicit ScriptEndsInTimeLauncher(
      std::chrono::milliseconds patience = std::chrono::milliseconds(20000))
      : patience_(patience) {}

  std::unique_ptr<KeypadScript> start(const std::filesystem::path& script,
                                      const std::vector<std::string>& arguments,
                                      const std::vector<std::string>& environment) override {
    std::unique_ptr<KeypadScript> running = real_.start(script, arguments, environment);
    if (!running) {
      return nullptr;
    }
    return std::make_unique<Ended>(std::move(running), patience_);
  }

 private:
  class Ended final : public KeypadScript {
   public:
    Ended(std::unique_ptr<KeypadScript> inner, std::chrono::milliseconds patience)
        : inner_(std::move(inner)), patience_(patience) {}
    std::optional<int> exitCode(std::chrono::milliseconds) override {
      return inner_->exitCode(patience_);
    }
    void terminate() override { inner_->terminate(); }
    std::string output() override { return inner_->output(); }

   private:
    std::unique_ptr<KeypadScript> inner_;
    std::chrono::milliseconds patience_;
  };

  PosixKeypadScriptLauncher real_{std::chrono::milliseconds(100)};
  std::chrono::milliseconds patience_;
};

}  // namespace orvik::testing
