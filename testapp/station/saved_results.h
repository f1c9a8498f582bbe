// The results the window saves: its run's summary in the runner's JSON
// schema, made by the same code as the runner's own summary.
//
// Reads the settings, configuration block and port records of the run
// context it is given; call on the thread that starts and stops runs.
#ifndef QUARNEX_STATION_SAVED_RESULTS_H_
#define QUARNEX_STATION_SAVED_RESULTS_H_

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/report/log_file.h"
#include "testapp/report/run_snapshot.h"

namespace quarnex {

// What the window knows of its run beyond the port records.
struct WindowRun {
  std::time_t started_at = 0;
  double elapsed_s = 0.0;
  bool running = false;     // not stopped yet
  bool configured = false;  // a port was opened and configured at Start
  std::optional<std::string> log_path;
  std::vector<std::string> messages;  // the Start's messages
  std::optional<std::string> log_error;
  // For a stopped run, the snapshot its stop record was written from, every
  // port of it: the summary then says what the log and the rows say.
  std::optional<std::vector<PortCounters>> stop_counters;
};

// The snapshot of the run of `context` whose table rows have the notes
// `rows` (by row): the ports at this moment, a port's counters from
// `stop_counters` when given (whether it is open or lost stays as it is
// now).
RunSnapshot WindowRunSnapshot(const RunContext& context, const std::vector<RowNotes>& rows,
                              const WindowRun& run);

// The summary line (JsonSummaryLine) of that snapshot, judged with the
// runner's default limits; "end_reason" is "running" or "stopped".
std::string WindowRunSummaryJson(const RunContext& context, const std::vector<RowNotes>& rows,
                                 const WindowRun& run);

}  // namespace quarnex

#endif  // QUARNEX_STATION_SAVED_RESULTS_H_
