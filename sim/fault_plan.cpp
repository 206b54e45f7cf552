#include "sim/fault_plan.h"

#include <array>
#include <charconv>

namespace orvik {
namespace {

struct FaultName {
  FaultKind fault;
  std::string_view name;
};

constexpr std::array<FaultName, 7> kFaultNames = {{
    {FaultKind::NoAcknowledge, "no-ack"},
    {FaultKind::BadChecksum, "bad-checksum"},
    {FaultKind::WrongOpcode, "wrong-opcode"},
    {FaultKind::JunkBeforeFrame, "junk"},
    {FaultKind::Silence, "silence"},
    {FaultKind::Disconnect, "disconnect"},
    {FaultKind::Refused, "refuse"},
}};

std::optional<int> parsePositive(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value < 1) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string_view faultKindName(FaultKind fault) {
  for (const FaultName& entry : kFaultNames) {
    if (entry.fault == fault) {
      return entry.name;
    }
  }
  return "?";
}

std::optional<FaultKind> faultKindFromName(std::string_view name) {
  for (const FaultName& entry : kFaultNames) {
    if (entry.name == name) {
      return entry.fault;
    }
  }
  return std::nullopt;
}

bool faultSkipsRequest(FaultKind fault) {
  return fault == FaultKind::NoAcknowledge || fault == FaultKind::Silence ||
         fault == FaultKind::Disconnect || fault == FaultKind::Refused;
}

FaultPlan& FaultPlan::add(RequestKind kind, int occurrence, FaultKind fault, int count) {
  return add(FaultRule{kind, occurrence, count, false, fault});
}

FaultPlan& FaultPlan::addEvery(RequestKind kind, FaultKind fault) {
  return add(FaultRule{kind, 1, 1, true, fault});
}

FaultPlan& FaultPlan::add(const FaultRule& rule) {
  rules_.push_back(rule);
  return *this;
}

std::optional<FaultKind> FaultPlan::faultFor(RequestKind kind, int occurrence) const {
  for (const FaultRule& rule : rules_) {
    if (rule.kind != kind) {
      continue;
    }
    // Compared as a difference so that a huge count cannot overflow.
    if (rule.every ||
        (occurrence >= rule.occurrence && occurrence - rule.occurrence < rule.count)) {
      return rule.fault;
    }
  }
  return std::nullopt;
}

std::optional<FaultRule> parseFaultRule(std::string_view text, std::string& error) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos || text.find(':', second + 1) != std::string_view::npos) {
    error = "a fault reads KIND:OCCURRENCE:FAULT, e.g. write-flash:3:silence";
    return std::nullopt;
  }
  const std::string_view kindText = text.substr(0, first);
  const std::string_view occurrenceText = text.substr(first + 1, second - first - 1);
  const std::string_view faultText = text.substr(second + 1);

  FaultRule rule;
  if (auto kind = requestKindFromName(kindText)) {
    rule.kind = *kind;
  } else {
    error = "unknown request kind '" + std::string(kindText) + "'";
    return std::nullopt;
  }
  if (auto fault = faultKindFromName(faultText)) {
    rule.fault = *fault;
  } else {
    error = "unknown fault '" + std::string(faultText) + "'";
    return std::nullopt;
  }
  if (occurrenceText == "every") {
    rule.every = true;
    return rule;
  }
  const std::size_t dash = occurrenceText.find('-');
  const auto from = parsePositive(occurrenceText.substr(0, dash));
  const auto to =
      dash == std::string_view::npos ? from : parsePositive(occurrenceText.substr(dash + 1));
  if (!from || !to || *to < *from) {
    error = "the occurrence '" + std::string(occurrenceText) + "' is not N, N-M or every";
    return std::nullopt;
  }
  rule.occurrence = *from;
  rule.count = *to - *from + 1;
  return rule;
}

}  // namespace orvik
