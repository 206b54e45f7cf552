#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>
#include <string>

#include "app/application.h"
#include "frontend/radio_session.h"

namespace orvik {

// The options both front ends take, with the same words in their help.
struct FrontEndOptions {
  LinkChoice link;
  StartupOptions startup;
  bool trace = false;
  std::optional<std::string> trustedKeys;
  std::optional<std::string> consoleSocket;

  // The console protocol's socket: the one given, or the default.
  std::filesystem::path consoleSocketPath() const;
};

void addFrontEndOptions(CLI::App& app, FrontEndOptions& options);

}  // namespace orvik
