// Packet verdict, timing and statistics, and the engine's millisecond clock.
//
// PacketStep, JudgePacket and ClassifyError run only on the one thread that
// judges packets for the port's mode (the reader, or the writer in Transmit
// only), so every counter has a single writer. The settings, pattern, flags
// and outputs are those of the port's run context (PortContext::Run).
#ifndef QUARNEX_ENGINE_VERDICT_H_
#define QUARNEX_ENGINE_VERDICT_H_

#include "testapp/engine/port_table.h"

namespace quarnex {

// Milliseconds from the steady high-resolution clock; any thread.
double MsClock();

// Judges the port's last packet, counts it, and refreshes its row at most
// once per UpdateInterval ms.
void PacketStep(PortContext& port);
// Returns 1 when it gave a verdict, 0 when the write or read had not
// finished yet.
int JudgePacket(PortContext& port);
// Counts a bad packet and its cause; returns the cause.
PacketStatus ClassifyError(PortContext& port);
void PurgePort(PortContext& port);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_VERDICT_H_
