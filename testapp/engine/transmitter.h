// The packet transmitter: writes one packet (or, in Transmit only file mode,
// the whole file in chunks) to one port and reports a WriteResult.
//
// Runs on the port's writer thread, or in Loopback on its reader thread
// when the reader sends its own packet; one call at a time per port. The
// settings, pattern, file, options and outputs are those of the port's run
// context (PortContext::Run).
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
// A write that blocks is ended after the blocked-transfer timeout by the
// thread that waits for it, except on the writer thread in Loopback, where
// the reader, waiting for the packet meanwhile, ends it.
int32_t TransmitPacket(PortContext& port, const uint8_t* data, uint32_t length);

// The writer thread's packet: sends TxPattern (PacketSize bytes), stores the
// result in LastWriteResult and the releases it answers in WritesStored,
// for the verdict. Does not signal WriteStoredEvent.
void SendReleasedPacket(PortContext& port);

// Loopback, on the reader thread once its read is posted: counts a release
// and sends that packet itself, ending a write that blocks after the
// blocked-transfer timeout. Handing the packet to the writer thread would
// cost a thread wake-up every packet, more CPU than the packet's own work
// on a fast line; the writer thread still sends the packets released from
// elsewhere (Continue after a pause).
void SendLoopbackPacket(PortContext& port);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_TRANSMITTER_H_
