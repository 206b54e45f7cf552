#include "pack/srec_writer.h"

#include <algorithm>
#include <vector>

#include "base/text.h"

namespace orvik {
namespace {

void appendRecord(std::string& out, char type, std::uint32_t address, int addressBytes,
                  std::span<const std::uint8_t> data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto count = static_cast<std::uint8_t>(addressBytes + data.size() + 1);
  unsigned sum = count;
  out.push_back('S');
  out.push_back(type);
  auto hexByte = [&out](std::uint8_t b) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  };
  hexByte(count);
  for (int i = addressBytes - 1; i >= 0; --i) {
    const auto b = static_cast<std::uint8_t>(address >> (8 * i));
    sum += b;
    hexByte(b);
  }
  for (std::uint8_t b : data) {
    sum += b;
    hexByte(b);
  }
  hexByte(static_cast<std::uint8_t>(~sum));
  out.push_back('\n');
}

}  // namespace

std::optional<std::string> writeSrec(std::span<const std::uint8_t> binary,
                                     const SrecOptions& options, std::string& error) {
  const std::uint64_t last =
      std::uint64_t{options.startAddress} + (binary.empty() ? 0 : binary.size() - 1);
  if (last > 0xFFFFFFFFu) {
    error = "the binary runs past the 32-bit address space";
    return std::nullopt;
  }
  int addressBytes = options.addressBytes;
  if (addressBytes == 0) {
    addressBytes = last <= 0xFFFF ? 2 : last <= 0xFFFFFF ? 3 : 4;
  }
  if (addressBytes < 2 || addressBytes > 4) {
    error = "the address takes 2, 3 or 4 bytes";
    return std::nullopt;
  }
  if (last >> (8 * addressBytes) != 0) {
    error = formatText("the address 0x%llX does not fit %d bytes",
                       static_cast<unsigned long long>(last), addressBytes);
    return std::nullopt;
  }
  const std::size_t maxData = 255u - static_cast<std::size_t>(addressBytes) - 1;
  if (options.bytesPerRecord < 1 || options.bytesPerRecord > maxData) {
    error = formatText("a record carries 1 to %zu bytes with this address size", maxData);
    return std::nullopt;
  }
  if (options.header.size() > 252) {
    error = "the header text has more than 252 bytes";
    return std::nullopt;
  }

  std::string out;
  out.reserve(binary.size() * 2 + binary.size() / options.bytesPerRecord * 16 + 64);
  if (!options.header.empty()) {
    const std::vector<std::uint8_t> text(options.header.begin(), options.header.end());
    appendRecord(out, '0', 0, 2, text);
  }
  const char type = static_cast<char>('0' + addressBytes - 1);
  for (std::size_t offset = 0; offset < binary.size(); offset += options.bytesPerRecord) {
    const std::size_t n = std::min(options.bytesPerRecord, binary.size() - offset);
    appendRecord(out, type, static_cast<std::uint32_t>(options.startAddress + offset), addressBytes,
                 binary.subspan(offset, n));
  }
  appendRecord(out, '9', 0, 2, {});
  return out;
}

}  // namespace orvik
