#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvik {

inline constexpr const char* kMakerFolder = "Corvane Solutions";
inline constexpr const char* kToolFolder = "Orvik Update Tool";
inline constexpr const char* kSimulatedToolFolder = "Orvik Update Tool (simulated radio)";

// The per-machine folder (error log, setup file): the given folder, else ORVIK_DATA_DIR, else
// the XDG data home ($XDG_DATA_HOME or ~/.local/share) + "Corvane Solutions/Orvik Update Tool".
// Nothing when none of them is set: no override, no XDG_DATA_HOME and no HOME.
std::optional<std::filesystem::path> findMachineDataDir(const std::optional<std::string>& override);

// The simulated machine's folder (--simulate): the given folder, else a folder of its own beside
// the real one in the XDG data home, "Corvane Solutions/Orvik Update Tool (simulated radio)", so
// that a simulated run never writes into the real machine's folder (ORVIK_DATA_DIR names the
// real one and does not count here). Nothing when there is no data home either.
std::optional<std::filesystem::path> findSimulatedMachineDataDir(
    const std::optional<std::string>& override);

// As findMachineDataDir, with the system's temporary folder standing in for the data home
// when there is none.
std::filesystem::path machineDataDir(const std::optional<std::string>& override);

// The folder the tool is installed in: the parent of the executable's folder (bin/..).
std::filesystem::path installDir();

}  // namespace orvik
