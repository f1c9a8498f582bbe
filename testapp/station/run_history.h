// The history of a station's runs in an SQLite file (`quarnex-run --db`):
// one row per run in `runs` (start, stop, station label, settings,
// verdict), one per port of a finished run in `ports` (the JSON summary's
// port fields), and, when asked, one per port and report in `intervals`.
// docs/stations.md ("A history of runs") shows the schema at work.
//
// A run's row is written when it starts, marked unfinished (finished 0,
// no result), so a station that dies mid-run leaves a trace. Its outcome
// then goes in with one transaction: the run row and all its ports, or
// nothing. The file is in WAL mode, so a crash at any moment leaves every
// run that finished whole, and readers (`--history`, a lab's own queries)
// never wait for a running station.
//
// Thread-safety: a RunHistory is used by one thread at a time, except
// CutWaits, which any thread may call. Several processes may share a file;
// a write waits up to kBusyTimeoutMs for another's.
#ifndef QUARNEX_STATION_RUN_HISTORY_H_
#define QUARNEX_STATION_RUN_HISTORY_H_

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testapp/report/port_counters.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/station/run_outcome.h"

namespace quarnex {

// One port of a finished run: the fields of the JSON summary's port object
// (docs/json.md, "summary"); the optional ones are empty where the JSON has
// null.
struct HistoryPort {
  int32_t port = 0;
  std::string label;  // "Quarnex01"
  bool opened = false;
  bool open = false;
  bool lost = false;
  int64_t packets = 0;
  int64_t good_packets = 0;
  int64_t errors = 0;
  int64_t write_failed = 0;
  int64_t write_aborted = 0;
  int64_t read_failed = 0;
  int64_t read_aborted = 0;
  int64_t length_mismatch = 0;
  int64_t data_mismatch = 0;
  int64_t read_timeouts = 0;
  int64_t write_timeouts = 0;
  std::array<int64_t, kLineErrorKindCount> line_errors{};  // by LineErrorKind
  double total_packet_time_ms = 0.0;
  std::optional<double> avg_ms;
  std::optional<double> last_ms;
  std::optional<double> max_ms;
  std::optional<double> throughput_pct;
  std::string status;
  std::string last_comm_error;
  bool pass = false;
  std::string failures;                       // JSON array of strings
  std::optional<std::string> first_mismatch;  // JSON object
};

// One run. A run that has not finished (still going, or its process died)
// has finished false and no stop, result or ports.
struct HistoryRun {
  int64_t id = 0;
  std::string label;       // the station
  std::string started_at;  // UTC, "2026-01-31T12:00:00Z"
  std::optional<std::string> stopped_at;
  bool finished = false;
  std::optional<std::string> result;  // "pass", "fail", "not_started"
  std::optional<int> exit_status;
  std::optional<std::string> end_reason;
  std::optional<double> elapsed_s;
  std::string mode;  // "loopback", ...
  int32_t port_index = 0;
  int32_t port_count = 0;
  int32_t packet_size = 0;
  std::optional<int32_t> bit_rate;
  std::optional<double> expected_packet_time_ms;
  std::string settings;  // the summary's "settings" object, JSON
  std::optional<int> ports_passed;
  std::optional<int> ports_failed;
  std::vector<HistoryPort> ports;  // in port order
};

// The row of a run that starts now: unfinished, its settings from `run`.
HistoryRun HistoryRunStarted(const RunDescription& run, const std::string& label);

// The rows of a finished run, from the outcome its JSON summary is made
// of; `stopped_at` is when it stopped.
HistoryRun HistoryRunOf(const RunOutcome& outcome, const std::string& label,
                        std::time_t stopped_at);

// Which runs --history lists.
struct HistoryFilter {
  std::optional<std::string> label;  // this station's only
  std::optional<std::string> since;  // started at or after, "YYYY-MM-DDTHH:MM:SSZ"
};

class RunHistory {
 public:
  static constexpr int kBusyTimeoutMs = 10000;
  // How often a write that waits for another looks again.
  static constexpr int kBusyStepMs = 10;

  // Opens FILE; with `create`, creates it and its tables when missing.
  // Returns null and sets *error (one line naming the file) when it cannot
  // be opened or is not such a history. A history that has its tables is
  // only read here, so another process writing it holds nothing up.
  static std::unique_ptr<RunHistory> Open(const std::string& path, bool create, std::string* error);
  ~RunHistory();
  RunHistory(const RunHistory&) = delete;
  RunHistory& operator=(const RunHistory&) = delete;

  // Writes the row of a run that started (HistoryRunStarted). Returns its
  // id, or 0 and sets *error.
  int64_t BeginRun(const HistoryRun& run, std::string* error);

  // Writes one report of run `run_id`: a row per port of `now` with its
  // counters and what it did since `before` (as the JSON report line).
  // One transaction. False and *error on failure.
  bool RecordInterval(int64_t run_id, int seq, const RunSnapshot& now, const RunSnapshot& before,
                      std::string* error);

  // Writes a finished run (HistoryRunOf) and its ports in one transaction:
  // over the row BeginRun wrote when `run.id` is that row's id, else as a
  // new row. False and *error on failure; then nothing of it was written.
  bool FinishRun(const HistoryRun& run, std::string* error);

  // Makes every wait for another process's write give up at once, the one
  // going on and all later ones: such a write then fails ("database is
  // locked") instead of waiting. A write that got the file finishes. Any
  // thread.
  void CutWaits();

  // The runs `filter` lets through, oldest first, with their ports. False
  // and *error on failure.
  bool Query(const HistoryFilter& filter, std::vector<HistoryRun>* runs, std::string* error);

 private:
  struct Impl;
  explicit RunHistory(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace quarnex

#endif  // QUARNEX_STATION_RUN_HISTORY_H_
