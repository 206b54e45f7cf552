#include "codeplug/cpg.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "errors/error_text.h"

namespace orvik {
namespace {

// Tokens of an address map are at most this long; a longer run of non-space characters
// reads as several tokens.
constexpr std::size_t kMaxTokenLength = 49;

// The order in which a token is tested for the block keys it contains.
constexpr std::array<int, kCpgBlockCount> kKeyOrder = {DYN, CON, ERG, FAC,    HW,
                                                       BAC, DEF, VOI, USERVOI};

bool isSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// 0 to 15 for a hex digit, 0xFF otherwise.
constexpr std::array<std::uint8_t, 256> makeHexTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& v : table) {
    v = 0xFF;
  }
  for (int c = '0'; c <= '9'; ++c) {
    table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
  }
  for (int c = 'A'; c <= 'F'; ++c) {
    table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'A' + 10);
    table[static_cast<std::size_t>(c - 'A' + 'a')] = static_cast<std::uint8_t>(c - 'A' + 10);
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> kHex = makeHexTable();

// An optional 0x prefix and at least one hex digit; the rest of the token is ignored. A value
// that does not fit 32 bits is as malformed as one without digits.
std::optional<std::uint32_t> hexValue(std::string_view token) {
  std::size_t i = 0;
  if (token.size() >= 2 && token[0] == '0' && token[1] == 'X') {
    i = 2;
  }
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < token.size(); ++i) {
    const std::uint8_t digit = kHex[static_cast<std::uint8_t>(token[i])];
    if (digit == 0xFF) {
      break;
    }
    value = value << 4 | digit;
    if (value > 0xFFFFFFFFu) {
      return std::nullopt;
    }
    ++digits;
  }
  if (digits == 0) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Reads one S-record stream in a single pass; every hex digit may be preceded by white space.
class StreamReader {
 public:
  explicit StreamReader(std::span<const std::uint8_t> text) : text_(text) {}

  // Skips white space; false at the end of the text.
  bool moreRecords() {
    skipSpace();
    return pos_ < text_.size();
  }

  // One record: its address and the data bytes before the checksum.
  bool readRecord(std::uint32_t& address, std::span<const std::uint8_t>& data) {
    if (text_[pos_] != 'S' && text_[pos_] != 's') {
      return false;
    }
    ++pos_;
    skipSpace();
    if (pos_ >= text_.size() || text_[pos_] < '0' || text_[pos_] > '9') {
      return false;
    }
    const int recordType = text_[pos_++] - '0';
    std::size_t addressLength = 0;
    switch (recordType) {
      case 0:
      case 1:
      case 9:
        addressLength = 2;
        break;
      case 2:
        addressLength = 3;
        break;
      case 3:
        addressLength = 4;
        break;
      default:
        break;
    }
    std::uint8_t count = 0;
    if (!readByte(count) || count < addressLength + 1) {
      return false;
    }
    unsigned sum = count;
    for (std::size_t i = 0; i < count; ++i) {
      if (!readByte(record_[i])) {
        return false;
      }
    }
    for (std::size_t i = 0; i + 1 < count; ++i) {
      sum += record_[i];
    }
    if (static_cast<std::uint8_t>(~sum) != record_[count - 1u]) {
      return false;
    }
    address = 0;
    for (std::size_t i = 0; i < addressLength; ++i) {
      address = address << 8 | record_[i];
    }
    data = std::span<const std::uint8_t>(record_.data() + addressLength, count - addressLength - 1);
    return true;
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && isSpace(text_[pos_])) {
      ++pos_;
    }
  }

  bool readDigit(std::uint8_t& digit) {
    skipSpace();
    if (pos_ >= text_.size()) {
      return false;
    }
    digit = kHex[text_[pos_]];
    ++pos_;
    return digit != 0xFF;
  }

  bool readByte(std::uint8_t& byte) {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (!readDigit(high) || !readDigit(low)) {
      return false;
    }
    byte = static_cast<std::uint8_t>(high << 4 | low);
    return true;
  }

  std::span<const std::uint8_t> text_;
  std::size_t pos_ = 0;
  std::array<std::uint8_t, 255> record_{};
};

}  // namespace

Cpg::Cpg() {
  for (int i = 0; i < kCpgBlockCount; ++i) {
    CpgBlock& block = blocks_[static_cast<std::size_t>(i)];
    block.index = i;
    block.startAddress = kCpgBlocks[static_cast<std::size_t>(i)].defaultStart;
    block.size = kCpgBlocks[static_cast<std::size_t>(i)].defaultSize;
  }
}

bool Cpg::parseAddressMap(std::string_view text) {
  return parseAddressMap(bytesOf(text));
}

bool Cpg::parseAddressMap(std::span<const std::uint8_t> text) {
  if (text.empty()) {
    return false;
  }
  enum class State { Key, ValueOrEquals, Value };
  enum class Field { Address, Size };
  State state = State::Key;
  Field field = Field::Address;
  CpgBlock* selected = nullptr;

  std::size_t pos = 0;
  char token[kMaxTokenLength];
  while (true) {
    while (pos < text.size() && isSpace(text[pos])) {
      ++pos;
    }
    if (pos >= text.size()) {
      return true;
    }
    std::size_t length = 0;
    while (pos < text.size() && !isSpace(text[pos]) && length < kMaxTokenLength) {
      const char c = static_cast<char>(text[pos++]);
      token[length++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const std::string_view word(token, length);

    if (state == State::Key) {
      bool keyFound = false;
      for (int index : kKeyOrder) {
        if (word.find(kCpgBlocks[static_cast<std::size_t>(index)].mapKey) !=
            std::string_view::npos) {
          selected = &blocks_[static_cast<std::size_t>(index)];
          keyFound = true;
          break;
        }
      }
      if (!keyFound && (word == "ADDRESS" || word == "BSIZE")) {
        field = word == "ADDRESS" ? Field::Address : Field::Size;
        state = State::ValueOrEquals;
      }
      continue;
    }
    if (state == State::ValueOrEquals && word == "=") {
      state = State::Value;
      continue;
    }
    const std::optional<std::uint32_t> value = hexValue(word);
    if (!value) {
      return false;
    }
    // A value before any block key has no block to go to.
    if (selected != nullptr) {
      if (field == Field::Address) {
        selected->startAddress = *value;
      } else if (*value < selected->size) {
        selected->size = *value;
        if (!selected->data.empty()) {
          selected->data.resize(selected->size);
        }
      }
    }
    state = State::Key;
  }
}

bool Cpg::parseCodeplugStream(std::string_view text) {
  return parseCodeplugStream(bytesOf(text));
}

bool Cpg::parseCodeplugStream(std::span<const std::uint8_t> text) {
  clearBlocks();
  StreamReader reader(text);
  while (reader.moreRecords()) {
    std::uint32_t address = 0;
    std::span<const std::uint8_t> data;
    if (!reader.readRecord(address, data)) {
      appendError(ErrorCategory::CPG, "Error:failed to parse CPG stream.");
      return false;
    }
    placeRecord(address, data);
  }
  return true;
}

void Cpg::clearBlocks() {
  for (CpgBlock& block : blocks_) {
    block.data.assign(block.size, 0);
    block.placedBytes = 0;
  }
}

void Cpg::placeRecord(std::uint32_t address, std::span<const std::uint8_t> data) {
  for (CpgBlock& block : blocks_) {
    // Unsigned offset against size: no start + size sum that could wrap.
    if (address < block.startAddress || address - block.startAddress >= block.size) {
      continue;
    }
    if (block.data.size() != block.size) {
      block.data.resize(block.size);
    }
    const std::size_t offset = address - block.startAddress;
    const std::size_t n = std::min<std::size_t>(data.size(), block.size - offset);
    std::copy_n(data.begin(), n, block.data.begin() + static_cast<std::ptrdiff_t>(offset));
    block.placedBytes += n;
    return;
  }
}

}  // namespace orvik
