// RunMonitor: the window's colours, totals and run summary.
#include "testapp/ui/run_monitor.h"

#include <cinttypes>
#include <string>
#include <vector>

#include "testapp/report/results_view.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/report/run_totals.h"
#include "testapp/report/run_verdict.h"
#include "testapp/report/text_format.h"

namespace quarnex {
namespace {

// The colour of the run summary: the most urgent verdict among the ports,
// green only when all pass.
QColor OverallColor(const std::vector<PortRunVerdict>& verdicts) {
  for (PortRunVerdict urgent :
       {PortRunVerdict::kFailed, PortRunVerdict::kStalled, PortRunVerdict::kLost}) {
    for (PortRunVerdict verdict : verdicts) {
      if (verdict == urgent) return VerdictColor(urgent);
    }
  }
  for (PortRunVerdict verdict : verdicts) {
    if (verdict != PortRunVerdict::kPassing) return QColor();
  }
  return verdicts.empty() ? QColor() : VerdictColor(PortRunVerdict::kPassing);
}

}  // namespace

RunMonitor::RunMonitor(const RunContext& context, ResultsModel& model, ResultsTable& table,
                       StatusBar& status, QObject* parent)
    : QObject(parent), context_(context), model_(model), table_(table), status_(status) {
  timer_.setInterval(kRunMonitorInterval);
  connect(&timer_, &QTimer::timeout, this, &RunMonitor::Refresh);
  connect(&model_, &QAbstractItemModel::rowsRemoved, this, &RunMonitor::ClearWhenEmpty);
  // The model repaints the workers' writes at most every 40 ms: the sums
  // follow the rows in the same repaint.
  connect(&model_, &QAbstractItemModel::dataChanged, this, [this] {
    if (shown_) ShowTotals();
  });
}

void RunMonitor::ShowTotals() {
  shown_ = true;
  // The total row adds up the rows as they read: they refresh once per
  // "Update screen every" while the snapshots are newer, and a total that
  // is not the sum of the rows above it would not be believed.
  totals_.Packets = model_.SumColumn(kColumnPackets, model_.rowCount());
  totals_.Errors = model_.SumColumn(kColumnErrors, model_.rowCount());
  table_.SetTotals(TotalRowTexts(totals_));
}

void RunMonitor::RunStarted() {
  elapsed_.start();
  running_ = true;
  timer_.start();
  Refresh();
}

void RunMonitor::RunStopped(const RunSnapshot& final_counts) {
  timer_.stop();
  stopped_after_s_ = ElapsedSeconds();
  running_ = false;
  // From here on the rows are the window's: a worker that judges one more
  // packet must not move them past the stop record.
  model_.HoldWorkerCells();
  // Every row, open or closed by now: the snapshot is newer than anything
  // a worker wrote before the hold.
  for (const PortSnapshot& port : final_counts.Ports) ShowRow(final_counts, port);
  Show(final_counts);
}

void RunMonitor::ShowRow(const RunSnapshot& run, const PortSnapshot& port) {
  const PortCounters& c = port.Counters;
  if (port.Row < 0 || c.NotOpened) return;  // no row, or it has said so since Start
  model_.SetCell(port.Row, kColumnPackets, FormatC("%" PRId64, c.PacketCount));
  model_.SetCell(port.Row, kColumnErrors, FormatC("%" PRId64, c.ErrorCount));
  // Before its first verdict the row keeps what it shows (a file's
  // progress, or nothing): this snapshot carries no row notes, so its
  // status text is empty then.
  const std::string status = PortStatusText(port);
  if (status.empty()) return;
  model_.SetCell(port.Row, kColumnTime, PortTimeText(run, port));
  model_.SetCell(port.Row, kColumnStatus, status);
}

void RunMonitor::RunNotStarted() {
  timer_.stop();
  running_ = false;
  stopped_after_s_ = 0.0;
  Refresh();
}

void RunMonitor::Refresh() { Show(TakeRunSnapshot(context_, ElapsedSeconds())); }

void RunMonitor::Show(const RunSnapshot& snapshot) {
  std::vector<RowPort> rows;
  std::vector<PortCounters> counters;
  std::vector<PortRunVerdict> verdicts;
  rows.reserve(snapshot.Ports.size());
  counters.reserve(snapshot.Ports.size());
  verdicts.reserve(snapshot.Ports.size());
  for (const PortSnapshot& port : snapshot.Ports) {
    if (port.Row < 0) continue;  // not in the table
    // A port whose packet is overdue has its worker blocked on it, and no
    // worker refreshes its row: the window shows what the snapshot counts.
    if (running_ && port.Counters.OverdueTimeout != 0) ShowRow(snapshot, port);
    rows.push_back(RowPort{port.Row, port.Counters});
    counters.push_back(port.Counters);
    verdicts.push_back(VerdictSinceStart(port.Counters));
  }
  model_.SetRowPorts(rows);
  totals_ = SumRunTotals(counters, snapshot.ExpectedPacketTime, snapshot.PacketsPerJudged);
  ShowTotals();
  std::string summary = "Elapsed " + ElapsedText(ElapsedSeconds());
  const std::string overall = OverallVerdictText(verdicts);
  if (!overall.empty()) summary += ", " + overall;
  status_.SetRunSummary(QString::fromStdString(summary), OverallColor(verdicts));
}

double RunMonitor::ElapsedSeconds() const {
  if (!running_) return stopped_after_s_;
  return static_cast<double>(elapsed_.elapsed()) / 1000.0;
}

void RunMonitor::ClearWhenEmpty() {
  if (model_.rowCount() > 0) return;
  timer_.stop();
  running_ = false;
  shown_ = false;
  stopped_after_s_ = 0.0;
  status_.SetRunSummary(QString(), QColor());
}

}  // namespace quarnex
