// RunObserver: what a station keeps besides the runner's own output (the
// metrics endpoint, the history of runs) follows a run through these calls.
//
// RunHeadless calls every method on the runner's main thread, in this
// order: RunStarted once (only when the run started), RunPolled on every
// pass of its waiting loop (about every 20 ms) and RunInterval at every
// report time, RunStopping once with the figures of the stop record,
// RunEnded once with the outcome (also for a run that did not start), and
// RunRecorded once, after every observer's RunEnded and before the summary.
// An observer must not block: RunStarted to RunEnded run between two looks
// at the ports, and only RunRecorded may wait, for what it writes. The base methods do nothing, so
// an observer overrides the ones it needs.
#ifndef QUARNEX_STATION_RUN_OBSERVER_H_
#define QUARNEX_STATION_RUN_OBSERVER_H_

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "testapp/report/run_snapshot.h"
#include "testapp/station/cell_store.h"
#include "testapp/station/run_outcome.h"

namespace quarnex {

class StopRequest;

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // The run of `context` started at `started_at` (wall clock) with the
  // settings `run`. `context` and `view`, the run's results table, stay
  // valid until RunEnded returns, and TakeTableSnapshot(context, view, ...)
  // snapshots the run from them.
  virtual void RunStarted(const RunContext& context, const RunDescription& run,
                          std::time_t started_at, const CellStore& view) {
    (void)context, (void)run, (void)started_at, (void)view;
  }

  // One pass of the waiting loop, `elapsed_s` after the start; `opened`
  // lists the slots that were opened at Start.
  virtual void RunPolled(const std::vector<int>& opened, double elapsed_s) {
    (void)opened, (void)elapsed_s;
  }

  // A report time: the figures now and at the previous report (the start
  // for the first), taken whether or not reports are shown.
  virtual void RunInterval(const RunSnapshot& now, const RunSnapshot& before) {
    (void)now, (void)before;
  }

  // The figures the stop record and the summary are made from, taken while
  // the workers still run; called before the ports are stopped.
  virtual void RunStopping(const RunSnapshot& final_figures) { (void)final_figures; }

  // The run is over and every port is closed; the summary comes after
  // RunRecorded.
  virtual void RunEnded(const RunOutcome& outcome) { (void)outcome; }

  // An observer that keeps the run where writing can fail or wait (the
  // history) waits here until what it wrote is done, but returns soon once
  // `stop` gets a request beyond those it had when the call began. Returns
  // the failure for the summary's history_error, or empty.
  virtual std::optional<std::string> RunRecorded(StopRequest& stop) {
    (void)stop;
    return std::nullopt;
  }
};

}  // namespace quarnex

#endif  // QUARNEX_STATION_RUN_OBSERVER_H_
