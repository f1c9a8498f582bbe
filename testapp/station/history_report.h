// `quarnex-run --history FILE`: the recorded runs as a table for people or
// as JSON lines for scripts.
//
// Pure functions, formatted locale-independently; any thread.
#ifndef QUARNEX_STATION_HISTORY_REPORT_H_
#define QUARNEX_STATION_HISTORY_REPORT_H_

#include <string>
#include <vector>

#include "testapp/station/run_history.h"

namespace quarnex {

// A header line and one line per run: id, start and stop (UTC), run time,
// station, mode, ports, result ("unfinished" for a run that never ended),
// ports passed of all, and the numbers of the ports that failed. "No runs
// recorded." for none.
std::string HistoryTable(const std::vector<HistoryRun>& runs);

// One JSON object per run and line, "type" "run": the run's fields under
// their column names, "settings" as the summary has it, and "ports", each
// port under the names of the summary's port object (counters and line
// errors grouped as there).
std::string HistoryJsonLines(const std::vector<HistoryRun>& runs);

}  // namespace quarnex

#endif  // QUARNEX_STATION_HISTORY_REPORT_H_
