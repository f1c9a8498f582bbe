// Snapshots of live port records for the log and the status bar.
//
// Called on the user-interface thread while the worker threads may still be
// counting: every field is read atomically on its own, so a snapshot is
// race-free but may mix values of two consecutive packets.
#ifndef QUARNEX_ENGINE_PORT_SNAPSHOT_H_
#define QUARNEX_ENGINE_PORT_SNAPSHOT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"
#include "testapp/report/log_file.h"
#include "testapp/report/results_view.h"
#include "testapp/report/run_snapshot.h"

namespace quarnex {

// The counters of `port`, labelled with `port_number`: the log's figures,
// and beside them the line errors by kind, the timeouts, the first
// mismatch, the status of the last packet counted, and whether the port is
// open, has reached Pause After, was lost or stalled, or could not be
// opened (with what was tried and why). The status is read first, so the
// counters hold it. A transfer outstanding longer than the line needs for
// it (OverdueLimitMs, transfer_wait.h) counts as one timeout of its kind.
PortCounters SnapshotPort(const PortContext& port, int32_t port_number);

// The counters of every slot 0 .. PortCount - 1 of the run of `context`
// whose port is open at this moment, in slot order, each labelled
// PortIndex + slot. Slots that never opened or whose threads have already
// closed them are left out.
std::vector<PortCounters> SnapshotOpenPorts(const RunContext& context);

// Snapshots the run of `context` with its settings, `elapsed_s` after it
// started (as the caller measures it): every slot of its range, in slot
// order, typed (run_snapshot.h); the row texts only the cell writes know are
// left empty (AttachRowNotes). Each field is read atomically on its own, so
// a port's figures may mix two consecutive packets, as the log's always
// could. Any thread.
RunSnapshot TakeRunSnapshot(const RunContext& context, double elapsed_s);

// The rates the lines of a run that has just started really run at.
struct RunLineRates {
  // One per slot in use, in slot order: what its device reported, or the
  // block's rate where the device could not tell.
  std::vector<uint32_t> rates;
  // A LineRateNotice for each port in use whose line runs at a rate other
  // than `asked`.
  std::vector<std::string> notices;
};
// Collects them for the run of `context` and the block's BitRate `asked`.
RunLineRates CollectLineRates(const RunContext& context, int32_t asked);

// What a run that has just started tells: the log's start record (when the
// log is open) and both parts of the status bar, each with the rate the
// lines really run at.
void ReportRunStart(const RunContext& context, LogFile& log, ResultsView& view);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_PORT_SNAPSHOT_H_
