#include "sim/pty_line_rate.h"

// termios2 carries the rate as a number, also for rates without a Bnnn constant (16406);
// <termios.h> defines a different struct termios and must stay out of this file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace orvik {

std::uint32_t ptyLineRate(int masterFd) {
  // Line settings asked of a master are those of its slave, the client's end.
  termios2 line{};
  if (::ioctl(masterFd, TCGETS2, &line) != 0) {
    return 0;
  }
  return line.c_ospeed;
}

}  // namespace orvik
