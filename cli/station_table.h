#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

// One row of the update station's table: a cable and the radio on it.
struct StationRow {
  std::string cable;
  std::string serial;
  std::string model;
  std::string firmware;  // "R01.02.03 -> R01.03.00"
  std::string codeplug;
  std::string step;
  std::optional<unsigned> progress;
  std::string time;  // "1:05"
  std::string result;
};

// The table with its heading, one line per row, each cut to the width so that a terminal
// never wraps it (the live table moves the cursor back over its lines).
std::vector<std::string> stationTableLines(const std::vector<StationRow>& rows, std::size_t width);

// "m:ss" for seconds.
std::string minutesAndSeconds(long long seconds);

}  // namespace orvik
