#include "testapp/station/saved_results.h"

#include "testapp/station/json_report.h"
#include "testapp/station/pass_fail.h"
#include "testapp/station/run_outcome.h"

namespace quarnex {

RunFigures WindowRunFigures(const RunContext& context, const std::vector<CellStore::RowTexts>& rows,
                            const WindowRun& run) {
  RunFigures figures = TakeRunFigures(context, rows, run.elapsed_s);
  if (run.stop_counters) {
    for (PortFigures& port : figures.ports) {
      for (const PortCounters& counters : *run.stop_counters) {
        if (counters.PortNumber != port.counters.PortNumber) continue;
        port.counters = counters;
        port.status = FiguresStatus(counters, port.status);
      }
    }
  }
  return figures;
}

std::string WindowRunSummaryJson(const RunContext& context,
                                 const std::vector<CellStore::RowTexts>& rows,
                                 const WindowRun& run) {
  StationRun station;
  station.log_path = run.log_path;
  RunOutcome outcome;
  outcome.run = DescribeRun(context, station, run.configured, run.started_at);
  outcome.figures = WindowRunFigures(context, rows, run);
  outcome.end_reason = run.running ? EndReason::kRunning : EndReason::kStopped;
  outcome.exit_status = ExitStatusFor(outcome.figures, outcome.run.limits);
  outcome.messages = run.messages;
  outcome.log_error = run.log_error;
  return JsonSummaryLine(outcome);
}

}  // namespace quarnex
