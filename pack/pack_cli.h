#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orvik {

// Exit codes of orvik-pack.
inline constexpr int kPackOk = 0;
inline constexpr int kPackFailed = 1;  // the command ran and failed, or inspect found a problem
inline constexpr int kPackUsage = 2;   // the command line was wrong

// Runs orvik-pack with the arguments that follow the program name.
int runPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orvik
