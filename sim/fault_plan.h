#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/request_kind.h"

namespace orvik {

// How the simulated radio misbehaves on one request.
enum class FaultKind {
  NoAcknowledge,    // a first byte other than the acknowledgement, then nothing
  BadChecksum,      // the answer with its checksum byte flipped
  WrongOpcode,      // the answer under another opcode, checksum valid
  JunkBeforeFrame,  // the acknowledgement, bytes the PC must skip, then the answer
  Silence,          // no answer at all
  Disconnect,       // the acknowledgement and half the answer, then the cable vanishes
  Refused,          // a two-byte refusal instead of the answer; the request is not carried out
};

// "no-ack", "bad-checksum", "wrong-opcode", "junk", "silence", "disconnect", "refuse".
std::string_view faultKindName(FaultKind fault);
std::optional<FaultKind> faultKindFromName(std::string_view name);

// The radio does not carry out a request that it leaves unanswered or cuts off: the PC has
// no way to tell that it happened, so a retry must find the radio unchanged.
bool faultSkipsRequest(FaultKind fault);

struct FaultRule {
  RequestKind kind = RequestKind::MemRead;
  // First occurrence hit, 1-based, counted per request kind; ignored when every is set.
  int occurrence = 1;
  // How many consecutive occurrences from the first one.
  int count = 1;
  bool every = false;
  FaultKind fault = FaultKind::Silence;
};

// Which requests the radio answers badly, by request kind and occurrence. The first rule
// that matches wins.
class FaultPlan {
 public:
  // The occurrence-th request of the kind (and count - 1 after it) gets the fault.
  FaultPlan& add(RequestKind kind, int occurrence, FaultKind fault, int count = 1);
  // Every request of the kind gets the fault.
  FaultPlan& addEvery(RequestKind kind, FaultKind fault);
  FaultPlan& add(const FaultRule& rule);

  std::optional<FaultKind> faultFor(RequestKind kind, int occurrence) const;
  bool empty() const { return rules_.empty(); }
  const std::vector<FaultRule>& rules() const { return rules_; }

 private:
  std::vector<FaultRule> rules_;
};

// Reads "KIND:OCCURRENCE:FAULT", OCCURRENCE being N, N-M (consecutive, inclusive) or
// "every": "write-flash:3:silence", "mem-read:2-4:bad-checksum", "reset:every:no-ack".
// On failure returns nothing and says why in error.
std::optional<FaultRule> parseFaultRule(std::string_view text, std::string& error);

}  // namespace orvik
