#include "serial/line_errors.h"

#include "testapp/driver/device.h"

namespace quarnex {

uint32_t LineErrorMask(const LineErrorCounters& before, const LineErrorCounters& now) {
  // Inequality rather than "greater": the counters are unsigned and wrap.
  uint32_t mask = 0;
  if (now.frame != before.frame) mask |= kCeFrame;
  if (now.parity != before.parity) mask |= kCeRxParity;
  if (now.overrun != before.overrun) mask |= kCeOverrun;
  if (now.buf_overrun != before.buf_overrun) mask |= kCeRxOver;
  if (now.brk != before.brk) mask |= kCeBreak;
  return mask;
}

}  // namespace quarnex
