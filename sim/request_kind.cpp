#include "sim/request_kind.h"

#include <array>

namespace orvik {
namespace {

constexpr std::array<std::string_view, kRequestKindCount> kNames = {
    "mem-read",        "mem-write",      "reset",        "test-mode",    "flash-follow-up",
    "softpot-write",   "factory-backup", "softpot-read", "status-query", "serial-number",
    "protection",      "erase-flash",    "write-flash",  "contact-read", "contact-write",
    "contact-restore", "probe",          "boot-load",
};

static_assert(static_cast<std::size_t>(RequestKind::BootLoad) + 1 == kRequestKindCount);

}  // namespace

std::string_view requestKindName(RequestKind kind) {
  return kNames[static_cast<std::size_t>(kind)];
}

std::optional<RequestKind> requestKindFromName(std::string_view name) {
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (kNames[i] == name) {
      return static_cast<RequestKind>(i);
    }
  }
  return std::nullopt;
}

}  // namespace orvik
