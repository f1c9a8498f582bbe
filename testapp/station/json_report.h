// The runner's --json output: one JSON object per line, for each report
// interval and one summary at the end. The schema is documented in
// docs/json.md; "schema" in every object names its version.
//
// Pure functions, formatted locale-independently; any thread.
#ifndef QUARNEX_STATION_JSON_REPORT_H_
#define QUARNEX_STATION_JSON_REPORT_H_

#include <string>
#include <string_view>
#include <vector>

#include "testapp/report/run_snapshot.h"
#include "testapp/station/run_outcome.h"

namespace quarnex {

inline constexpr int kJsonSchemaVersion = 1;

// The object of report `seq` (1, 2, ...): every port of the range with its
// counters now and what it did since `before`. Ends with a line feed.
std::string JsonIntervalLine(const RunSnapshot& now, const RunSnapshot& before, int seq);

// The summary object: the settings the run used, the end reason, every
// counter of every port at the stop, the verdict and the exit status. Ends
// with a line feed.
std::string JsonSummaryLine(const RunOutcome& outcome);

// Parts of the summary object on their own, for the history of runs: the
// "settings" object, a port's "first_mismatch" ("null" before any) and an
// array of strings such as "failures".
std::string JsonSettingsObject(const RunDescription& run);
std::string JsonFirstMismatch(const FirstMismatch& mismatch);
std::string JsonStringArray(const std::vector<std::string>& texts);

// `text` as a JSON string literal, quotes included. Bytes from 0x80 up pass
// through unchanged.
std::string JsonQuote(std::string_view text);

}  // namespace quarnex

#endif  // QUARNEX_STATION_JSON_REPORT_H_
