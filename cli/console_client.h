#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>

namespace orvik {

// A console program's side of the console protocol: sends one message to the tool that
// listens on the socket and prints what comes back (with json, one object per action).
// "enter", "exit" or "start". Returns the exit status: 0 when the tool accepted (for start:
// the update succeeded), 1 when it declined, ignored or failed, 2 for an unknown action.
int runConsoleClient(const std::filesystem::path& socket, const std::string& action,
                     std::ostream& out, std::ostream& err, bool json = false);

// A console session: one connection for the actions read from `in`, one a line, until its
// end. The tool leaves test mode when a session that entered it goes away without "exit".
// Returns 0 when every action was accepted, 2 when one was unknown, otherwise 1.
int runConsoleSession(const std::filesystem::path& socket, std::istream& in, std::ostream& out,
                      std::ostream& err, bool json = false);

}  // namespace orvik
