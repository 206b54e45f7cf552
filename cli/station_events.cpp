#include "cli/station_events.h"

#include "workflow/update_history.h"

namespace orvik {
namespace {

constexpr const char* kProgrammingNames[] = {"nothing", "codeplug", "firmware and codeplug"};

const char* programmingName(UpdatePlan::Programming programming) {
  return kProgrammingNames[static_cast<int>(programming)];
}

UpdatePlan::Programming programmingFromName(const std::string& name) {
  for (int i = 0; i < 3; ++i) {
    if (name == kProgrammingNames[i]) {
      return static_cast<UpdatePlan::Programming>(i);
    }
  }
  return UpdatePlan::Programming::Nothing;
}

}  // namespace

JsonLine::JsonLine(const char* event) : body_("{\"event\":" + jsonString(event)) {}

// Each member is appended piece by piece: g++ 12 at -O3 takes "," + string for an overlapping
// copy.
JsonLine& JsonLine::key(const char* name) {
  body_ += ',';
  body_ += jsonString(name);
  body_ += ':';
  return *this;
}

JsonLine& JsonLine::text(const char* name, const std::string& value) {
  key(name).body_ += jsonString(value);
  return *this;
}

JsonLine& JsonLine::number(const char* name, long long value) {
  key(name).body_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::flag(const char* name, bool value) {
  key(name).body_ += value ? "true" : "false";
  return *this;
}

std::string planEvent(const UpdateProposal& p) {
  return JsonLine(station_event::kPlan)
      .text("serial", p.serial)
      .text("model", p.model)
      .text("firmware_before", p.firmwareBefore)
      .text("firmware_after", p.firmwareAfter)
      .text("codeplug_before", p.codeplugBefore)
      .text("codeplug_after", p.codeplugAfter)
      .text("keypad_before", p.keypadBefore)
      .text("keypad_after", p.keypadAfter)
      .text("programming", programmingName(p.programming))
      .flag("keypad", p.keypad)
      .flag("downgrade", p.downgrade)
      .flag("interrupted", p.completesInterrupted)
      .str();
}

std::string eventField(const EventFields& fields, const std::string& key) {
  const auto found = fields.find(key);
  return found == fields.end() ? std::string() : found->second;
}

UpdateProposal proposalFromEvent(const EventFields& fields) {
  UpdateProposal p;
  p.serial = eventField(fields, "serial");
  p.model = eventField(fields, "model");
  p.firmwareBefore = eventField(fields, "firmware_before");
  p.firmwareAfter = eventField(fields, "firmware_after");
  p.codeplugBefore = eventField(fields, "codeplug_before");
  p.codeplugAfter = eventField(fields, "codeplug_after");
  p.keypadBefore = eventField(fields, "keypad_before");
  p.keypadAfter = eventField(fields, "keypad_after");
  p.programming = programmingFromName(eventField(fields, "programming"));
  p.keypad = eventField(fields, "keypad") == "true";
  p.downgrade = eventField(fields, "downgrade") == "true";
  p.completesInterrupted = eventField(fields, "interrupted") == "true";
  return p;
}

}  // namespace orvik
