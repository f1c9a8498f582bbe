#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "serial/bit_rate.h"

namespace quarnex {

bool GetTtyBitRate(int fd, uint32_t* rate) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  *rate = t.c_ospeed;
  return true;
}

bool SetTtyBitRate(int fd, uint32_t rate, uint32_t* actual) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  // BOTHER takes the rate from c_ospeed; the input rate field (shifted by
  // IBSHIFT) left at 0 means "same as output".
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER;
  t.c_ospeed = rate;
  t.c_ispeed = rate;
  if (ioctl(fd, TCSETS2, &t) != 0) return false;
  return GetTtyBitRate(fd, actual);
}

}  // namespace quarnex
