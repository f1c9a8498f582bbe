// The command line of quarnex-run, the headless runner.
//
// The runner repeats a run that was set up in the window: it starts from
// the stored settings and lets the command line override some of them for
// this run only (nothing is ever saved). Besides the overrides the command
// line says how the run ends (a duration, a packet count per port, or
// Ctrl+C), how results are shown and which limits decide pass or fail.
//
// ParseRunnerOptions has a plain string-list entry point so tests can feed
// it tables of command lines. Pure functions; any thread.
#ifndef QUARNEX_RUNNER_RUNNER_OPTIONS_H_
#define QUARNEX_RUNNER_RUNNER_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testapp/driver/device_map.h"
#include "testapp/report/log_file.h"
#include "testapp/settings/settings_state.h"
#include "testapp/station/station_run.h"

namespace quarnex {

// kRunnerName, kRunnerVersion, IsMetricsAddress (--metrics), ModeName
// (--mode) and the defaults of --interval and --max-errors are the
// station's (station_run.h).

// Port numbers the runner accepts; a range spans at most kMaxPorts ports.
inline constexpr int32_t kMinPortNumber = 0;
inline constexpr int32_t kMaxPortNumber = 999;

struct RunnerOptions {
  // Overrides of the stored settings; empty = keep the stored value.
  std::optional<int32_t> port_index;
  std::optional<int32_t> port_count;
  std::optional<int32_t> mode;  // a TestMode
  std::optional<int32_t> packet_size;
  std::optional<std::string> file;  // --file: this file, in any mode
  bool no_file = false;             // --no-file: the generated pattern
  std::optional<int32_t> pause_after;
  std::optional<uint32_t> delay_ms;
  std::optional<uint32_t> update_interval_ms;
  // --set KEY=VALUE, in order: quarnex.cfg entries applied over the file.
  std::vector<std::pair<std::string, std::string>> config_overrides;
  // --device N=PATH[,loop], in order: the device each port opens; a later
  // entry of the same port replaces an earlier one.
  DeviceMap devices;

  // How the run ends; with neither, Ctrl+C or SIGTERM ends it.
  std::optional<double> duration_s;
  std::optional<int32_t> packets_per_port;

  // Output.
  double interval_s = kDefaultReportIntervalS;
  bool json = false;
  bool quiet = false;
  std::string log_path = kLogFileName;
  bool no_log = false;

  // Pass or fail.
  int32_t max_errors = kDefaultMaxErrors;
  std::optional<double> min_throughput_pct;
  // --stop-on-error: the first bad packet of any port ends the run, which
  // then fails.
  bool stop_on_error = false;

  // The station: its name in metrics and history, its Prometheus endpoint
  // and its history of runs.
  std::optional<std::string> label;            // --label; empty: the host name
  std::optional<std::string> metrics_address;  // --metrics ADDR:PORT
  double metrics_linger_s = 0.0;               // --metrics-linger S
  std::optional<std::string> db_path;          // --db FILE: record the run
  bool db_intervals = false;                   // --db-intervals: and every report
  // --history FILE: list the runs recorded there instead of running.
  std::optional<std::string> history_path;
  std::optional<std::string> since;  // --since DATE: runs started then or later

  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after "=" ("--ports 1-8", "--ports=1-8"). On failure
// returns false and sets *error to one line naming the option and the value
// (no program name, no line feed); *options is then unspecified.
bool ParseRunnerOptions(const std::vector<std::string>& args, RunnerOptions* options,
                        std::string* error);

// Applies the overrides to *settings, the way the Test Settings dialog
// would: choosing Loopback without --file drops the stored file, --file
// names the file to send or compare with (at most 255 characters, checked
// by the parser), --no-file drops it. --ports sets PortIndex and PortCount.
void ApplyRunnerOverrides(const RunnerOptions& options, Settings* settings);

// The --help text: every option with its default. Overrides show the value
// stored now (`stored`), since that is what the run uses without them.
std::string RunnerHelpText(const Settings& stored);

// What the station's outputs need of the run the options describe: the
// label, the log, how the run ends, the limits, the endpoint and the
// history.
StationRun StationRunOf(const RunnerOptions& options);

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_RUNNER_OPTIONS_H_
