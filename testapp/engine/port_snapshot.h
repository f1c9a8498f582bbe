// Snapshots of live port records for the log's stop record.
//
// Called on the user-interface thread while the worker threads may still be
// counting: every field is read atomically on its own, so a snapshot is
// race-free but may mix values of two consecutive packets.
#ifndef QUARNEX_ENGINE_PORT_SNAPSHOT_H_
#define QUARNEX_ENGINE_PORT_SNAPSHOT_H_

#include <cstdint>
#include <vector>

#include "testapp/engine/port_table.h"
#include "testapp/report/log_file.h"

namespace quarnex {

// The counters of `port`, labelled with `port_number`.
PortCounters SnapshotPort(const PortContext& port, int32_t port_number);

// The counters of every slot 0 .. PortCount - 1 whose port is open at this
// moment, in slot order, each labelled PortIndex + slot. Slots that never
// opened or whose threads have already closed them are left out.
std::vector<PortCounters> SnapshotOpenPorts();

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_PORT_SNAPSHOT_H_
