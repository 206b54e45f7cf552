#pragma once

#include <map>
#include <string>

#include "workflow/main_view.h"

namespace orvik {

// The update station and its workers speak in lines. A worker sends events, one flat JSON
// object a line, on its standard output; the station answers a plan on the worker's standard
// input with kAnswerGo, kAnswerSkip and a reason, or tells it kAnswerStop. `orvik-cli station
// update --json` passes the workers' events on with the cable added, so other programs read
// the same lines.
namespace station_event {
inline constexpr const char* kBegin = "begin";        // a radio's update starts
inline constexpr const char* kPlan = "plan";          // what it would do; an answer is awaited
inline constexpr const char* kStep = "step";          // the step it runs now
inline constexpr const char* kProgress = "progress";  // percent of the programming
inline constexpr const char* kLog = "log";            // a line it wrote to the error log
inline constexpr const char* kResult = "result";      // how it ended
inline constexpr const char* kWaiting = "waiting";    // --watch: no radio answers
inline constexpr const char* kGone = "gone";          // --watch: the radio was taken off
inline constexpr const char* kMessage = "message";    // something the worker says
}  // namespace station_event

inline constexpr const char* kAnswerGo = "go";
inline constexpr const char* kAnswerSkip = "skip";
inline constexpr const char* kAnswerStop = "stop";

// How a radio's update in the station ended.
namespace station_result {
inline constexpr const char* kUpdated = "updated";
inline constexpr const char* kUpToDate = "up to date";
inline constexpr const char* kSkipped = "skipped";
inline constexpr const char* kFailed = "failed";
inline constexpr const char* kDeclined = "declined";
// Ctrl-C came before its update began: not updated, and not as the policy wants it.
inline constexpr const char* kStopped = "stopped";
}  // namespace station_result

// One JSON object on one line, built field by field in order.
class JsonLine {
 public:
  explicit JsonLine(const char* event);
  JsonLine& text(const char* key, const std::string& value);
  JsonLine& number(const char* key, long long value);
  JsonLine& flag(const char* key, bool value);
  // The object, without a line end.
  std::string str() const { return body_ + "}"; }

 private:
  // Starts a member: the comma, the quoted name and the colon.
  JsonLine& key(const char* name);
  std::string body_;
};

using EventFields = std::map<std::string, std::string>;

// The plan event of a proposal, and the proposal read back from its fields.
std::string planEvent(const UpdateProposal& proposal);
UpdateProposal proposalFromEvent(const EventFields& fields);

// A field of an event; empty when it is missing.
std::string eventField(const EventFields& fields, const std::string& key);

}  // namespace orvik
