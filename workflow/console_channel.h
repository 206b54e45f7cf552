#pragma once

#include <optional>
#include <string_view>

#include "exec/message_window.h"

namespace orvik {

// The four messages a console program and the tool exchange.
enum class ConsoleMessage { Start, End, EnterTestMode, ExitTestMode };

inline constexpr LParam kConsoleMagic = 4619;
inline constexpr LParam kConsoleAcknowledge = 8;
inline constexpr WParam kUpdateEndTag = 8;

const char* consoleMessageName(ConsoleMessage message);
std::optional<ConsoleMessage> consoleMessageFromName(std::string_view name);

// The consoles the tool can reach: each is known by the handle it sent as wParam.
class ConsoleChannel {
 public:
  virtual ~ConsoleChannel() = default;
  virtual bool isConsole(WParam handle) = 0;
  // Delivers a message to the console without waiting for it; false when it is gone.
  virtual bool post(WParam console, ConsoleMessage message, WParam wParam, LParam lParam) = 0;
  // Told when a user action starts and ends. Console requests are handled between actions: one
  // that would enter or leave the test mode while an action runs waits until it has ended.
  virtual void setActionRunning(bool running) { (void)running; }
};

}  // namespace orvik
