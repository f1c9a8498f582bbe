// RunMonitor: what the window shows of a run at a glance, refreshed from
// snapshots of the ports' counters on a timer of the window: each row's
// colour and tooltip, the total row (whose packets and errors add up the
// rows as shown), and the run's elapsed time and verdict in the status bar.
//
// At Stop it shows the snapshot the stop record was written from, and the
// rows of the ports that were open take their counts from it too, so the
// table says what the log says. The workers are never asked to wait: the
// snapshot reads their counters atomically.
//
// Lives on the user-interface thread; the run context, model, table and
// status bar must outlive it (they are the window's, like the monitor).
#ifndef QUARNEX_UI_RUN_MONITOR_H_
#define QUARNEX_UI_RUN_MONITOR_H_

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/run_context.h"
#include "testapp/report/run_totals.h"
#include "testapp/ui/results_model.h"
#include "testapp/ui/results_table.h"

namespace quarnex {

// How often a run's rows, totals and status are refreshed.
inline constexpr std::chrono::milliseconds kRunMonitorInterval(250);

class RunMonitor : public QObject {
  Q_OBJECT

 public:
  // Snapshots the runs of `context`.
  RunMonitor(const RunContext& context, ResultsModel& model, ResultsTable& table, StatusBar& status,
             QObject* parent = nullptr);

  // A run has started: the elapsed time starts at 0 and the refreshes
  // begin, the first at once.
  void RunStarted();
  // The run was stopped after its stop record was written from
  // `final_counts`: the refreshes end, the stopped workers' cell writes are
  // dropped (the window holds them before it takes the snapshot), each
  // row of a port that was opened shows its packets, errors, time and
  // status from `final_counts`, and so do the colours, the total row and
  // the status bar, which keep them until the next Start.
  void RunStopped(const RunSnapshot& final_counts);
  // A Start that set up no port: the rows it left (ports that could not be
  // opened) get their colours, the totals and the verdict once, with no
  // elapsed time.
  void RunNotStarted();

  // One refresh from a fresh snapshot (the timer's).
  void Refresh();

 private:
  // Colours, tooltips, total row and status from `snapshot`.
  void Show(const RunSnapshot& snapshot);
  // The total row from totals_, with the sums of the rows as shown.
  void ShowTotals();
  // Writes the cells of `port`'s row from `run`, the snapshot it is of.
  void ShowRow(const RunSnapshot& run, const PortSnapshot& port);
  double ElapsedSeconds() const;
  // A table without rows (a Start that opened nothing) shows no summary.
  void ClearWhenEmpty();

  const RunContext& context_;
  ResultsModel& model_;
  ResultsTable& table_;
  StatusBar& status_;
  QTimer timer_;
  QElapsedTimer elapsed_;
  bool running_ = false;
  double stopped_after_s_ = 0.0;
  // The last snapshot's totals; shown_ once they were shown for this run.
  RunTotals totals_;
  bool shown_ = false;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_RUN_MONITOR_H_
