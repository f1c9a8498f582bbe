// The baud rate of a TTY, any value the driver accepts (not only the
// standard Bnnn rates): set with termios2 and BOTHER, and read back.
//
// The implementation lives in bit_rate_linux.cpp on its own because the
// kernel's <asm/termbits.h> (termios2) and the C library's <termios.h>
// define the same names differently and cannot share a source file.
//
// Thread-safety: plain ioctl calls on `fd`; any thread.
#ifndef QUARNEX_SERIAL_BIT_RATE_H_
#define QUARNEX_SERIAL_BIT_RATE_H_

#include <cstdint>

namespace quarnex {

// Asks the driver for `rate` bits per second in both directions and reads
// back what it set, into *actual (drivers round to what their clock can
// divide). False with errno set when the driver refuses.
bool SetTtyBitRate(int fd, uint32_t rate, uint32_t* actual);

// The output rate the driver reports now. False with errno set on failure.
bool GetTtyBitRate(int fd, uint32_t* rate);

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_BIT_RATE_H_
