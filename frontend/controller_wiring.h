#pragma once

#include <filesystem>
#include <ostream>

namespace orvik {

class Application;
class ConsoleServer;
class MainController;

// Gives the controller what both front ends give it: the tool's base folder (keypad
// boot-loader), the backup folder, the update journal and the update history, whose write
// failures go to err.
void wireController(MainController& controller, Application& application, std::ostream& err);

// Listens for consoles on the socket and hands their messages, and the end of their sessions,
// to the controller, which then reaches them through the server. False, with the reason in
// the server's error(), when it cannot listen.
bool listenForConsoles(ConsoleServer& server, MainController& controller,
                       const std::filesystem::path& socket);

}  // namespace orvik
