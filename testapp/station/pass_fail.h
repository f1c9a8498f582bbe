// The runner's verdict on a run: which ports stayed inside the limits given
// on the command line, and the exit status that follows.
//
// Pure functions over a snapshot; any thread.
#ifndef QUARNEX_STATION_PASS_FAIL_H_
#define QUARNEX_STATION_PASS_FAIL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testapp/report/run_snapshot.h"

namespace quarnex {

// Exit statuses of quarnex-run.
inline constexpr int kExitPass = 0;     // every port inside the limits
inline constexpr int kExitFail = 1;     // a port broke a limit or did not open
inline constexpr int kExitNoPorts = 2;  // the run could not start
inline constexpr int kExitUsage = 3;    // a bad command line
// The run ended, but its reports or summary could not be written to
// standard output (a closed pipe, a full disk).
inline constexpr int kExitOutput = 4;

struct Limits {
  int32_t max_errors = 0;
  std::optional<double> min_throughput_pct;  // empty: no limit
};

struct PortVerdict {
  bool pass = true;
  // One short text per limit broken, e.g. "errors 3 above 0".
  std::vector<std::string> failures;
};

// A port passes when it was opened, was not lost, judged at least one good
// packet, has at most max_errors errors and, with a throughput limit, a
// throughput figure of at least that much. A port without a figure (no good packet, or
// no bit rate in the configuration) fails a throughput limit.
PortVerdict JudgePort(const PortSnapshot& port, const RunSnapshot& run, const Limits& limits);

// kExitPass when every port of the range passes, else kExitFail.
int ExitStatusFor(const RunSnapshot& run, const Limits& limits);

}  // namespace quarnex

#endif  // QUARNEX_STATION_PASS_FAIL_H_
