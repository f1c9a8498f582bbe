// HistoryRecorder: writes a run into the history (`quarnex-run --db`) as it
// goes: its row at the start, each report with --db-intervals, and its
// outcome with all ports in one transaction at the end.
//
// The writes happen on a writer thread of the recorder's own, in the order
// they were asked for, so a history that is slow or locked by another
// process (each write waits up to RunHistory::kBusyTimeoutMs for it) never
// holds up the run, its reports or its stop. Only RunRecorded, after the
// stop, waits for the writes still queued.
//
// A write that fails is told once on standard error and named in the
// summary (history_error); the run goes on and its verdict and exit status
// stay what the ports say, as with the log.
//
// Thread-safety: the RunObserver methods run on the runner's main thread;
// the history is used by the writer thread only, besides CutWaits.
#ifndef QUARNEX_STATION_HISTORY_RECORDER_H_
#define QUARNEX_STATION_HISTORY_RECORDER_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "testapp/station/run_history.h"
#include "testapp/station/run_observer.h"

namespace quarnex {

class HistoryRecorder : public RunObserver {
 public:
  // `history` must outlive the recorder. `label` names the station.
  HistoryRecorder(RunHistory& history, std::string label, bool record_intervals);
  // Cuts any wait for the file short, lets the write going on finish and
  // drops the ones queued behind it.
  ~HistoryRecorder() override;
  HistoryRecorder(const HistoryRecorder&) = delete;
  HistoryRecorder& operator=(const HistoryRecorder&) = delete;

  // The first write that failed, as told on standard error; empty while
  // every write succeeded. The main thread.
  std::optional<std::string> failure() const;

  // RunObserver: each queues its write and returns.
  void RunStarted(const RunContext& context, const RunDescription& run, std::time_t started_at,
                  const CellStore& view) override;
  void RunInterval(const RunSnapshot& now, const RunSnapshot& before) override;
  void RunEnded(const RunOutcome& outcome) override;
  // Waits until every queued write is done, for at most 2 s, or
  // until `stop` gets a further request; then cuts what still waits for
  // the file (those writes fail) and lets the write going on finish.
  // Returns failure().
  std::optional<std::string> RunRecorded(StopRequest& stop) override;

 private:
  using Write = std::function<void()>;  // runs on the writer thread
  void Post(Write write);
  void WriteQueued();
  void Note(const std::string& error);  // the writer thread
  // Cuts waits for the file, drops the queue and joins the writer thread.
  void Close();

  RunHistory& history_;
  const std::string label_;
  const bool record_intervals_;
  int seq_ = 0;  // the main thread's count of reports
  // The writer thread's own.
  int64_t run_id_ = 0;  // 0 until BeginRun wrote the run's row

  mutable std::mutex mu_;
  std::condition_variable cv_;          // a write was queued, or one finished
  std::deque<Write> queue_;             // guarded by mu_
  bool writing_ = false;                // guarded by mu_: a write is going on
  bool closing_ = false;                // guarded by mu_
  std::optional<std::string> failure_;  // guarded by mu_
  std::thread writer_;                  // last: starts once the rest exists
};

}  // namespace quarnex

#endif  // QUARNEX_STATION_HISTORY_RECORDER_H_
