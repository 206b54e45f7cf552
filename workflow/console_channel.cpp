#include "workflow/console_channel.h"

#include <array>
#include <utility>

namespace orvik {
namespace {

constexpr std::array<std::pair<ConsoleMessage, const char*>, 4> kNames{{
    {ConsoleMessage::Start, "WM_TOOL_UPDATE_START"},
    {ConsoleMessage::End, "WM_TOOL_UPDATE_END"},
    {ConsoleMessage::EnterTestMode, "WM_TOOL_UPDATE_ENTER_TEST_MODE"},
    {ConsoleMessage::ExitTestMode, "WM_TOOL_UPDATE_EXIT_TEST_MODE"},
}};

}  // namespace

const char* consoleMessageName(ConsoleMessage message) {
  for (const auto& [m, name] : kNames) {
    if (m == message) {
      return name;
    }
  }
  return "";
}

std::optional<ConsoleMessage> consoleMessageFromName(std::string_view name) {
  for (const auto& [m, n] : kNames) {
    if (name == n) {
      return m;
    }
  }
  return std::nullopt;
}

}  // namespace orvik
