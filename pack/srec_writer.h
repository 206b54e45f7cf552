#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace orvik {

struct SrecOptions {
  std::uint32_t startAddress = 0;
  std::size_t bytesPerRecord = 32;
  // 2, 3 or 4 (S1, S2, S3); 0 takes the smallest that holds the last address.
  int addressBytes = 0;
  // An S0 header record with this text, when not empty.
  std::string header;
};

// The binary as S-records from the start address, one record per line, closed by an S9
// record. S9 is used whatever the data records are: readers of codeplug streams give S7 and
// S8 no address, so their address bytes would be taken for data at address 0.
std::optional<std::string> writeSrec(std::span<const std::uint8_t> binary,
                                     const SrecOptions& options, std::string& error);

}  // namespace orvik
