// What a finished run of the runner comes to: the settings it used, why it
// ended, the figures at its stop and the exit status they give. The JSON
// and text summaries are made from it.
//
// Plain records; DescribeRun reads the settings and configuration block of
// a run context and runs on the runner's main thread.
#ifndef QUARNEX_STATION_RUN_OUTCOME_H_
#define QUARNEX_STATION_RUN_OUTCOME_H_

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/settings/records.h"
#include "testapp/station/pass_fail.h"
#include "testapp/station/station_run.h"

namespace quarnex {

enum class EndReason {
  kNotStarted,  // no port could be set up, or the file could not be read
  kDuration,    // --duration elapsed
  kPackets,     // every port reached --packets (or was closed)
  kPortsDone,   // every port was closed or reached the packet limit on its own
  kSignal,      // Ctrl+C or SIGTERM
  kFirstError,  // --stop-on-error: a port judged a bad packet
  // Only in the results the window saves:
  kStopped,  // the window's Stop
  kRunning,  // saved while the run goes on
};

// "not_started", "duration", "packets", "ports_done", "signal",
// "first_error", "stopped" or "running".
const char* EndReasonName(EndReason reason);

// The settings the run used, after the overrides and after Start (which
// may lower the packet size to a file's size and sets the byte size).
struct RunDescription {
  int32_t mode = 0;
  int32_t port_index = 0;
  int32_t port_count = 0;
  int32_t packet_size = 0;
  std::optional<std::string> file;  // empty: the generated pattern
  uint32_t file_size = 0;
  int32_t pause_after = 0;
  uint32_t delay_ms = 0;
  uint32_t update_interval_ms = 0;
  // From quarnex.cfg, known once a port was configured.
  std::optional<int32_t> bit_rate;
  std::optional<bool> parity_bit;
  PortSettings port{};                  // as the log's start record shows them
  std::optional<std::string> log_path;  // empty: no log
  std::optional<double> duration_s;
  std::optional<int32_t> packets_per_port;
  double interval_s = 0.0;
  Limits limits;
  std::string started_at;  // UTC, "2026-01-31T12:00:00Z"
};

// Fills a description from the settings of `context`, its configuration
// block (only when `configured`, i.e. a port was configured) and the
// options.
RunDescription DescribeRun(const RunContext& context, const StationRun& station, bool configured,
                           std::time_t started);

struct RunOutcome {
  RunDescription run;
  RunSnapshot figures;  // at the stop: what the stop record holds
  EndReason end_reason = EndReason::kNotStarted;
  int exit_status = kExitNoPorts;
  std::vector<std::string> messages;  // start-up messages, oldest first
  // The first time the log could not be opened or written, as told on
  // standard error; empty when every record reached it (or no log is kept).
  std::optional<std::string> log_error;
  // The first write of the history (--db) that failed, as told on standard
  // error; empty when every write went in or no history is kept.
  std::optional<std::string> history_error;
};

}  // namespace quarnex

#endif  // QUARNEX_STATION_RUN_OUTCOME_H_
