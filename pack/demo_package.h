#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>

namespace orvik {

// The demo package matches the simulated radio: model LA26CKN9AR1 with firmware R01.02.03,
// codeplug R01.02.00 and keypad R01.00.00 gets firmware R01.03.00 and the even-family
// codeplug R01.04.00; region LACR.
inline constexpr const char* kDemoRegion = "LACR";
inline constexpr const char* kDemoModel = "LA26CKN9AR1";
inline constexpr const char* kDemoDealerPassword = "12345678";

// How much the demo package programs. The usual sizes take about a minute at line speed; a
// small package updates a radio on a line-time pty in seconds.
struct DemoPackageSizes {
  std::size_t firmwareBytes = 5 * 0x10000;
  std::uint32_t defaultBlockBytes = 0x10000;
};

// Writes config.xml and the container files into the folder and setup.dat to setupPath,
// creating folders as needed. Prints one line per file written.
bool writeDemoPackage(const std::filesystem::path& folder, const std::filesystem::path& setupPath,
                      std::ostream& out, std::string& error, const DemoPackageSizes& sizes = {});

// The address map of the demo package (and of the simulated radio): the nine blocks at their
// usual places, DEF where the demo codeplug streams put their data.
std::string demoAddressMapText(
    std::uint32_t defaultBlockBytes = DemoPackageSizes{}.defaultBlockBytes);

// Writes only the setup file that matches the demo package (the simulated machine's).
bool writeDemoSetup(const std::filesystem::path& setupPath, std::ostream& out, std::string& error);

}  // namespace orvik
