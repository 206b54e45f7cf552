#pragma once

#include <atomic>

namespace orvik {

class CmdProgram;
class CmdRestorePersonality;

// The signals that ask the tool to end: Ctrl-C (SIGINT), SIGTERM (kill, a service manager, a
// shutdown) and SIGHUP (the terminal went away). All three are handled alike.

// An update in the terminal. While the radio is being erased or programmed, ending the tool
// would leave the radio without firmware: the tool says so and asks the update to stop at its
// next safe point, after which the run fails as a failed update does (history, journal and
// all). At any other moment the signal ends the tool at once, as usual. progressBar: standard
// error shows a progress bar, whose line the message must not run into.
void guardUpdateAgainstInterrupt(CmdProgram& program, bool progressBar);

// A personality restore in the terminal. While the personality is being written, ending the
// tool would leave the radio with part of it: the tool says so and the restore runs to its
// end. At any other moment the signal ends the tool at once.
void guardRestoreAgainstInterrupt(CmdRestorePersonality& restore, bool progressBar);

// A process that must never end in the middle of a radio's update (the headless station, a
// worker of the update station): a signal sets stop, which the caller's loop watches, and asks
// an update under way to stop at its next safe point, which is before the first erase when
// nothing is erased yet. It says so on standard error.
void stopAtSafePointOnInterrupt(CmdProgram& program, std::atomic<bool>& stop);

}  // namespace orvik
