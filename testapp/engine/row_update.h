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

// The part of the port's record that the Status and Time cells are made
// from: the status of the last packet counted (loaded first, with acquire,
// so the counters read after it hold that packet), its counters, the lost
// flag. Any thread; each field is read atomically on its own.
PortCounters RowCounters(const PortContext& port);

// Column 3 as UpdateRow writes it for `counters` (RowCounters or a
// snapshot of the port), with the port's last and maximum times.
std::string TimeCell(const PortContext& port, const PortCounters& counters);
// Column 4 as UpdateRow writes it; "" while the port has judged no packet
// good or bad and is not lost (its row has no status yet). Any thread.
std::string StatusCell(const PortContext& port);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_ROW_UPDATE_H_
