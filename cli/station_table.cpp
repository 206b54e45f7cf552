#include "cli/station_table.h"

#include <algorithm>
#include <array>

#include "base/text.h"

namespace orvik {
namespace {

constexpr std::size_t kBarWidth = 10;
// The step is cut to this; the longest ("programming the default block") fits.
constexpr std::size_t kStepWidth = 30;

std::string progressText(const std::optional<unsigned>& progress) {
  if (!progress) {
    return {};
  }
  const unsigned percent = std::min(*progress, 100U);
  const std::size_t filled = percent * kBarWidth / 100;
  // Appended piece by piece: g++ 12 at -O3 takes "[" + string for an overlapping copy.
  std::string text = "[";
  text += std::string(filled, '#');
  text += std::string(kBarWidth - filled, ' ');
  text += "] ";
  text += std::to_string(percent);
  text += '%';
  return text;
}

// Cuts a UTF-8 text to a number of characters.
std::string cut(const std::string& text, std::size_t characters) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count++ == characters) {
      return text.substr(0, i);
    }
  }
  return text;
}

std::size_t characters(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

std::string minutesAndSeconds(long long seconds) {
  const long long s = std::max(0LL, seconds);
  const std::string rest = std::to_string(s % 60);
  return std::to_string(s / 60) + ":" + (rest.size() == 1 ? "0" + rest : rest);
}

std::vector<std::string> stationTableLines(const std::vector<StationRow>& rows, std::size_t width) {
  using Cells = std::array<std::string, 9>;
  std::vector<Cells> table;
  table.push_back(
      {"Cable", "Radio", "Model", "Firmware", "Codeplug", "Step", "Progress", "Time", "Result"});
  for (const StationRow& row : rows) {
    // The radio's texts and the workers' words are shown escaped: none of them moves the
    // cursor or clears the table.
    table.push_back({printableText(row.cable), printableText(row.serial), printableText(row.model),
                     printableText(row.firmware), printableText(row.codeplug),
                     cut(printableText(row.step), kStepWidth), progressText(row.progress), row.time,
                     printableText(row.result)});
  }
  std::array<std::size_t, 9> widths{};
  for (const Cells& cells : table) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max(widths[i], characters(cells[i]));
    }
  }
  std::vector<std::string> lines;
  for (const Cells& cells : table) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      line += cells[i];
      if (i + 1 < cells.size()) {
        line += std::string(widths[i] - characters(cells[i]) + 2, ' ');
      }
    }
    while (!line.empty() && line.back() == ' ') {
      line.pop_back();
    }
    lines.push_back(cut(line, width));
  }
  return lines;
}

}  // namespace orvik
