// HistoryRecorder: writes a run into the history (`quarnex-run --db`) as it
// goes: its row at the start, each report with --db-intervals, and its
// outcome with all ports in one transaction at the end.
//
// A write that fails is told once on standard error; the run goes on and
// its verdict and exit status stay what the ports say, as with the log.
//
// Thread-safety: the runner's main thread only (RunObserver).
#ifndef QUARNEX_RUNNER_HISTORY_RECORDER_H_
#define QUARNEX_RUNNER_HISTORY_RECORDER_H_

#include <cstdint>
#include <optional>
#include <string>

#include "testapp/runner/run_history.h"
#include "testapp/runner/run_observer.h"

namespace quarnex {

class HistoryRecorder : public RunObserver {
 public:
  // `history` must outlive the recorder. `label` names the station.
  HistoryRecorder(RunHistory& history, std::string label, bool record_intervals);

  // The first write that failed, as told on standard error; empty while
  // every write succeeded.
  const std::optional<std::string>& failure() const { return failure_; }

  void RunStarted(const RunContext& context, const RunDescription& run, std::time_t started_at,
                  const CellStore& view) override;
  void RunInterval(const RunFigures& now, const RunFigures& before) override;
  void RunEnded(const RunOutcome& outcome) override;

 private:
  void Note(const std::string& error);

  RunHistory& history_;
  const std::string label_;
  const bool record_intervals_;
  int64_t run_id_ = 0;  // 0 until BeginRun wrote the run's row
  int seq_ = 0;
  std::optional<std::string> failure_;
};

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_HISTORY_RECORDER_H_
