// The runner's text output: the live table for a terminal, the labelled
// lines for a file or pipe, and the summary at the end.
//
// Pure functions that return text, formatted locale-independently; any
// thread. Writing it out (and redrawing in place) is LiveScreen's part.
#ifndef QUARNEX_RUNNER_TEXT_REPORT_H_
#define QUARNEX_RUNNER_TEXT_REPORT_H_

#include <string>
#include <string_view>

#include "testapp/report/run_snapshot.h"
#include "testapp/station/run_outcome.h"

namespace quarnex {

// The window's table for the opened ports: Port, Packets, Errors,
// "Time(ms) -- Avg Last Max (T.P.)", Status, Last Comm Error, then a total
// row. `headline` comes first. At most `max_rows` port rows are shown (the
// rest are counted in a line of their own and in the total); every line is
// cut to `max_columns` characters so that none wraps. Lines end in "\n".
std::string LiveTable(const RunSnapshot& now, std::string_view headline, int max_rows,
                      int max_columns);

// One labelled line per opened port, and one for the total, with what the
// port did since `before` and its figures so far, e.g.
//   [  5.0 s] Quarnex01 interval: packets=10 good=10 errors=0 rate=2.0/s
//   avg_ms=4.100 | total: packets=50 ... status="Success" last_comm_error=""
// (one line).
std::string IntervalLines(const RunSnapshot& now, const RunSnapshot& before);

// The closing text: why the run ended, a table of every port of the range
// with its times, throughput and verdict, a line with the error causes of
// each port that had errors, and the overall result.
std::string TextSummary(const RunOutcome& outcome);

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_TEXT_REPORT_H_
