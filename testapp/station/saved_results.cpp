#include "testapp/station/saved_results.h"

#include "testapp/engine/port_snapshot.h"
#include "testapp/station/json_report.h"
#include "testapp/station/pass_fail.h"
#include "testapp/station/run_outcome.h"

namespace quarnex {

RunSnapshot WindowRunSnapshot(const RunContext& context, const std::vector<RowNotes>& rows,
                              const WindowRun& run) {
  RunSnapshot snapshot = TakeRunSnapshot(context, run.elapsed_s);
  AttachRowNotes(rows, &snapshot);
  if (!run.stop_counters) return snapshot;
  for (PortSnapshot& port : snapshot.Ports) {
    for (const PortCounters& counters : *run.stop_counters) {
      if (counters.PortNumber != port.Counters.PortNumber) continue;
      const bool open = port.Counters.Open;
      const bool lost = port.Counters.Lost;
      port.Counters = counters;
      port.Counters.Open = open;
      port.Counters.Lost = lost;
    }
  }
  return snapshot;
}

std::string WindowRunSummaryJson(const RunContext& context, const std::vector<RowNotes>& rows,
                                 const WindowRun& run) {
  StationRun station;
  station.log_path = run.log_path;
  RunOutcome outcome;
  outcome.run = DescribeRun(context, station, run.configured, run.started_at);
  outcome.figures = WindowRunSnapshot(context, rows, run);
  outcome.end_reason = run.running ? EndReason::kRunning : EndReason::kStopped;
  outcome.exit_status = ExitStatusFor(outcome.figures, outcome.run.limits);
  outcome.messages = run.messages;
  outcome.log_error = run.log_error;
  return JsonSummaryLine(outcome);
}

}  // namespace quarnex
