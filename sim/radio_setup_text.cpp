#include "sim/radio_setup_text.h"

#include <algorithm>
#include <string>

namespace orvik {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Record layout of the demo contacts: number, call ID, list kind at byte 7, then a name.
constexpr std::size_t kContactKindOffset = 7;
constexpr std::size_t kContactNameLength = 16;

}  // namespace

std::optional<std::array<std::uint8_t, 11>> modelFromText(std::string_view text) {
  std::array<std::uint8_t, 11> model;
  if (text.empty() || text.size() > model.size()) {
    return std::nullopt;
  }
  model.fill(' ');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (isDigit(c)) {
      model[i] = static_cast<std::uint8_t>(c - '0');
    } else if (isLetter(c)) {
      model[i] = static_cast<std::uint8_t>(c);
    } else {
      return std::nullopt;
    }
  }
  return model;
}

std::optional<std::vector<std::uint8_t>> serialFromText(std::string_view text) {
  if (text.empty() || text.size() > 11) {
    return std::nullopt;
  }
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::vector<std::uint8_t>> demoContacts(int count) {
  std::vector<std::vector<std::uint8_t>> contacts;
  for (int i = 0; i < count; ++i) {
    const int number = i + 1;
    const std::uint32_t callId = 1000 + static_cast<std::uint32_t>(number);
    std::vector<std::uint8_t> record(kContactKindOffset + 1 + kContactNameLength, 0);
    record[0] = static_cast<std::uint8_t>(number >> 8);
    record[1] = static_cast<std::uint8_t>(number);
    record[3] = static_cast<std::uint8_t>(callId >> 16);
    record[4] = static_cast<std::uint8_t>(callId >> 8);
    record[5] = static_cast<std::uint8_t>(callId);
    record[kContactKindOffset] = static_cast<std::uint8_t>(1 + i % 4);
    std::string name = std::to_string(number);
    name = "Contact " + std::string(name.size() < 3 ? 3 - name.size() : 0, '0') + name;
    name.resize(std::min(name.size(), kContactNameLength));
    std::copy(name.begin(), name.end(), record.begin() + kContactKindOffset + 1);
    contacts.push_back(std::move(record));
  }
  return contacts;
}

}  // namespace orvik
