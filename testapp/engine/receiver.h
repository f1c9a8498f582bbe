// The packet receiver: reads one packet (or, in file mode, the whole file in
// chunks, compared with FileBuffer) from one port and reports a ReadResult.
//
// Runs only on the port's reader thread, one call at a time per port; the
// settings, file, options and outputs are those of the port's run context
// (PortContext::Run).
#ifndef QUARNEX_ENGINE_RECEIVER_H_
#define QUARNEX_ENGINE_RECEIVER_H_

#include <cstddef>
#include <cstdint>

#include "testapp/engine/port_table.h"

namespace quarnex {

enum ReadResult : int32_t {
  kReadNone = 0,
  kReadLengthMismatch = 4,
  kReadCancelled = 5,
  kReadError = 6,
  kReadWaitFailed = 8,
  kReadRefused = 9,
  kReadShort = 10,
  kReadDoneDeferred = 11,
  kReadDoneImmediate = 12,
};

inline bool ReadIsFull(int32_t r) { return r == kReadDoneDeferred || r == kReadDoneImmediate; }
// A read that completed or failed at once, without going pending.
inline bool ReadEndedAtOnce(int32_t r) {
  return r == kReadDoneImmediate || r == kReadShort || r == kReadRefused;
}

// Reads `length` bytes into `buffer` (the port's ReceiveBuffer). In Loopback
// it releases the port's writer once its read is pending.
int32_t ReceivePacket(PortContext& port, uint8_t* buffer, uint32_t length);

// Writes `size` bytes to `file_name` from its start, truncating it first.
// Returns 1 on success, 0 on failure.
int WriteDumpFile(const char* file_name, const uint8_t* data, size_t size);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_RECEIVER_H_
