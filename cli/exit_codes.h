#pragma once

namespace orvik {

// Exit codes of orvik-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRadioFailure = 1;
inline constexpr int kExitUsage = 2;
// A question was answered No.
inline constexpr int kExitDeclined = 3;

}  // namespace orvik
