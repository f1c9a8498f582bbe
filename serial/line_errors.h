// Line errors of a real port: the kernel's cumulative error counters
// (TIOCGICOUNT) turned into the ClearCommError mask of what happened since
// the previous query.
//
// Thread-safety: pure functions; any thread.
#ifndef QUARNEX_SERIAL_LINE_ERRORS_H_
#define QUARNEX_SERIAL_LINE_ERRORS_H_

#include <cstdint>

namespace quarnex {

// The error counters of serial_icounter_struct that ClearCommError reports.
// They only grow (modulo 2^32) while the port is open.
struct LineErrorCounters {
  uint32_t frame = 0;
  uint32_t parity = 0;
  uint32_t overrun = 0;      // the UART's receive FIFO overflowed
  uint32_t buf_overrun = 0;  // the kernel's receive buffer overflowed
  uint32_t brk = 0;
};

// The line-error mask for the counts that grew from `before` to `now`:
// frame -> kCeFrame, parity -> kCeRxParity, overrun -> kCeOverrun,
// buf_overrun -> kCeRxOver, brk -> kCeBreak. A counter that wrapped around
// still counts as grown; an unchanged one adds nothing.
uint32_t LineErrorMask(const LineErrorCounters& before, const LineErrorCounters& now);

}  // namespace quarnex

#endif  // QUARNEX_SERIAL_LINE_ERRORS_H_
