#pragma once

namespace orvik {

class CmdProgram;

// Ctrl-C during an update. While the radio is being erased or programmed, ending the tool
// would leave the radio without firmware: the tool says so and asks the update to stop at its
// next safe point, after which the run fails as a failed update does. At any other moment
// Ctrl-C ends the tool at once, as usual. progressBar: standard error shows a progress bar,
// whose line the message must not run into.
void guardUpdateAgainstInterrupt(CmdProgram& program, bool progressBar);

}  // namespace orvik
