#pragma once

#include <filesystem>
#include <ostream>
#include <string>

namespace orvik {

// A console program's side of the console protocol: sends one message to the tool that
// listens on the socket and prints what comes back. "enter", "exit" or "start".
// Returns the exit status: 0 when the tool accepted (for start: the update succeeded), 1 when
// it declined, ignored or failed, 2 for an unknown action.
int runConsoleClient(const std::filesystem::path& socket, const std::string& action,
                     std::ostream& out, std::ostream& err);

}  // namespace orvik
