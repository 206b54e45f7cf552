#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orvik {

// What the simulated radio recognised a request as. The names double as the request names
// of orvik-radio-sim's --fault option and its --verbose log.
enum class RequestKind {
  MemRead,
  MemWrite,
  Reset,
  TestMode,
  FlashFollowUp,
  SoftpotWrite,
  FactoryBackup,
  SoftpotRead,
  StatusQuery,
  SerialNumber,
  Protection,
  EraseFlash,
  WriteFlash,
  ContactRead,
  ContactWrite,
  ContactRestore,
  Probe,
  BootLoad,
};

inline constexpr std::size_t kRequestKindCount = 18;

// "mem-read", "write-flash", ...
std::string_view requestKindName(RequestKind kind);
std::optional<RequestKind> requestKindFromName(std::string_view name);

// One request as the radio received it, checksum included.
struct LoggedRequest {
  RequestKind kind;
  std::vector<std::uint8_t> bytes;
};

}  // namespace orvik
