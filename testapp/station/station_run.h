// StationRun: what the station's outputs need to know of a run besides the
// run context, filled by each program from its own settings (quarnex-run
// from its command line, the window from its options). The JSON summary,
// the pass/fail limits, the metrics endpoint and the history read this,
// never a program's own options.
//
// Plain records and pure functions; any thread.
#ifndef QUARNEX_STATION_STATION_RUN_H_
#define QUARNEX_STATION_STATION_RUN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "testapp/station/pass_fail.h"

namespace quarnex {

// The headless program's name and version, which the station's messages on
// standard error and its summaries carry.
inline constexpr char kRunnerName[] = "quarnex-run";
// The project's version (project() in the top CMakeLists.txt).
inline constexpr char kRunnerVersion[] = QUARNEX_VERSION;

inline constexpr double kDefaultReportIntervalS = 1.0;
inline constexpr int32_t kDefaultMaxErrors = 0;

struct StationRun {
  // The station's name in metrics and history; empty: the host name.
  std::optional<std::string> label;
  // The log the run appends its records to; empty: no log is kept.
  std::optional<std::string> log_path;
  // How the run ends; with neither, it ends when it is stopped.
  std::optional<double> duration_s;
  std::optional<int32_t> packets_per_port;
  double interval_s = kDefaultReportIntervalS;  // between reports
  Limits limits{kDefaultMaxErrors, std::nullopt};

  // The Prometheus endpoint: served at this address ("ADDRESS:PORT") when
  // given, and kept for metrics_linger_s after the run.
  std::optional<std::string> metrics_address;
  double metrics_linger_s = 0.0;
  // The history of runs: the run is recorded in this file when given,
  // with every report's interval when db_intervals.
  std::optional<std::string> db_path;
  bool db_intervals = false;
};

// A metrics endpoint's address, as --metrics and the window's setting take
// it: an IPv4 address, or an IPv6 one in brackets, of this machine and a
// port of 0 to 65535 (0 takes a free one). Nothing but the two parts, no
// blanks.
bool IsMetricsAddress(std::string_view text);
inline constexpr char kMetricsAddressForm[] =
    "ADDRESS:PORT such as 127.0.0.1:9464, 0.0.0.0:9464 or [::1]:9464 (port 0: any free)";

// "loopback", "receive" or "transmit"; "unknown" for another value.
const char* ModeName(int32_t mode);

}  // namespace quarnex

#endif  // QUARNEX_STATION_STATION_RUN_H_
