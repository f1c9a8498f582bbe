// The packet transmitter: writes one packet (or, in Transmit only file mode,
// the whole file in chunks) to one port and reports a WriteResult.
//
// Runs only on the port's writer thread, one call at a time per port.
#ifndef QUARNEX_ENGINE_TRANSMITTER_H_
#define QUARNEX_ENGINE_TRANSMITTER_H_

#include <cstdint>

#include "testapp/engine/port_table.h"

namespace quarnex {

enum WriteResult : int32_t {
  kWriteNone = 0,
  kWriteStopped = 2,
  kWriteCancelled = 4,
  kWriteIncomplete = 5,
  kWriteWaitFailed = 7,
  kWriteRefused = 8,
  kWriteShort = 9,
  kWriteDoneDeferred = 10,
  kWriteDoneImmediate = 11,
};

inline constexpr int32_t kMaxOverlap = 1000;

inline bool WriteIsFull(int32_t r) { return r == kWriteDoneDeferred || r == kWriteDoneImmediate; }

// Writes `length` bytes of `data` (in file mode the FileBuffer instead) to
// port's device. `data` must stay valid until the next Start: a write left
// pending at Stop still refers to it.
int32_t TransmitPacket(PortContext& port, const uint8_t* data, uint32_t length);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_TRANSMITTER_H_
