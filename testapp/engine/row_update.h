// The periodic refresh of one port's row in the results table: packets,
// errors, times with throughput, and the status of the last packet.
//
// Called by PacketStep on the one thread that judges the port's packets, so
// two refreshes of one row never overlap; other threads may set single cells
// of the row between refreshes. The texts go through the port's run context View(), whose
// cell writes are complete when they return.
#ifndef QUARNEX_ENGINE_ROW_UPDATE_H_
#define QUARNEX_ENGINE_ROW_UPDATE_H_

#include <cstdint>
#include <string>

#include "testapp/engine/port_table.h"

namespace quarnex {

// Rewrites columns 1 to 4 of port.Row from the port's counters, times and
// last results, and keeps the count it showed in ShownPacketCount. Column 3
// shows "N.A." when the last judged packet failed.
void UpdateRow(PortContext& port);

// Column 3 as UpdateRow writes it, with the average taken from `total_ms`
// over `good_packets` (the caller's snapshot of those two counters).
std::string TimeCell(const PortContext& port, double total_ms, int64_t good_packets);
// Column 4 as UpdateRow writes it; "" while the port has judged no packet
// good or bad and is not lost (its row has no status yet). Both read the port's record
// atomically, field by field; any thread.
std::string StatusCell(const PortContext& port);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_ROW_UPDATE_H_
