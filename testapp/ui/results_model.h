// ResultsModel: the texts of the results table and of the status bar, kept
// where any thread may write them.
//
// The engine's worker threads write cells through the ResultsView
// interface. A write stores the text under the model's mutex and returns at
// once; from then on Text() (and the table, once repainted) shows it. The
// repaint happens later on the user-interface thread: writes from other
// threads mark their rows dirty and the first of them queues one Flush,
// which announces every dirty row in one dataChanged. So a worker never
// waits for the user-interface thread, and the user-interface thread only
// ever holds the mutex for a copy: no deadlock, and a fast line cannot
// flood the event queue. Queued flushes come at most every 40 ms
// (kMinFlushInterval): the first after a quiet spell at once, the next no
// sooner than that after it, so repainting costs the user-interface thread
// a bounded share of the CPU however fast the lines are.
//
// Rows: the texts change at once on any thread; the row count the view sees
// (rowCount) changes only on the user-interface thread, at once when the
// change is made there (as Start does) and with the next Flush otherwise.
//
// After Stop the rows show what the stop record says: HoldWorkerCells drops
// the cell writes of the stopped run's workers, which may still judge a
// packet, until the next DeleteAllRows (every Start) takes them again.
//
// Each row may carry its port's snapshot (SetRowPorts, user-interface
// thread): the row is coloured by the port's verdict since Start and its
// tooltip tells the port's details (report/port_details.h).
//
// The model lives on the user-interface thread and must outlive every
// thread that writes to it (the window joins the workers before it goes).
#ifndef QUARNEX_UI_RESULTS_MODEL_H_
#define QUARNEX_UI_RESULTS_MODEL_H_

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/report/port_counters.h"
#include "testapp/report/results_view.h"
#include "testapp/report/run_verdict.h"
#include "testapp/settings/records.h"

namespace quarnex {

// The column headers, in column order.
inline constexpr std::array<const char*, kColumnCount> kColumnHeaders = {
    "Port", "Packets", "Errors", "Time(ms) -- Avg Last Max (T.P.)", "Status", "Last Comm Error"};

inline constexpr int kStatusPartCount = 2;

// The background that tells a verdict apart at a glance: soft green for
// passing, red for failed, grey for no packet judged yet, amber for lost,
// none (an invalid colour) for closed. Light enough for dark text.
QColor VerdictColor(PortRunVerdict verdict);

// A row's port as the last snapshot had it.
struct RowPort {
  int row = -1;
  PortCounters counters;
};

class ResultsModel : public QAbstractTableModel, public ResultsView {
  Q_OBJECT

 public:
  explicit ResultsModel(QObject* parent = nullptr);
  ~ResultsModel() override;

  // ResultsView, callable from any thread.
  int InsertRow(int position, std::string_view port_label) override;
  void DeleteAllRows() override;
  void SetCell(int row, int column, std::string_view text) override;
  void SetStatus(int part, std::string_view text) override;
  void SelectWholeRows() override;

  // The stored texts, from any thread; empty for a cell or part that does
  // not exist.
  std::string Text(int row, int column) const;
  std::string StatusText(int part) const;
  int StoredRowCount() const;
  // The sum of the numbers `column` holds in the first `rows` rows (a cell
  // without a number counts 0), read under one lock; any thread.
  int64_t SumColumn(int column, int rows) const;

  // User-interface thread. From now until the next DeleteAllRows, cell
  // writes from other threads are dropped; the user-interface thread's own
  // still land.
  void HoldWorkerCells();
  // User-interface thread. Gives each listed row its port's snapshot; rows
  // not listed keep theirs. Repaints only the rows whose verdict changed.
  void SetRowPorts(const std::vector<RowPort>& ports);
  // How many times DeleteAllRows has run: a Start that got as far as its
  // ports changed it, one that failed before did not. Any thread.
  int RowResets() const { return row_resets_.load(); }
  // The verdict of `row`'s port, or nothing when the row has no snapshot.
  std::optional<PortRunVerdict> RowVerdict(int row) const;

  // QAbstractTableModel, user-interface thread.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // Emitted on the user-interface thread when a status part changed.
  void StatusTextChanged(int part, const QString& text);
  // Emitted on the user-interface thread after SelectWholeRows.
  void WholeRowSelectionRequested();
  // Emitted by the model itself, on any thread, to queue FlushWhenDue.
  void FlushRequested(QPrivateSignal);

 private:
  using Row = std::array<std::string, kColumnCount>;

  bool OnUiThread() const;
  // Queues one Flush unless one is queued already. Requires mu_.
  void RequestFlushLocked();
  // Brings the view up to date with the stored texts (user-interface
  // thread).
  void Flush();
  // The queued Flush of the workers' writes: now, or on a timer once
  // kMinFlushInterval has passed since the last one (user-interface thread).
  void FlushWhenDue();

  mutable std::mutex mu_;
  std::vector<Row> rows_;                              // guarded by mu_
  std::array<std::string, kStatusPartCount> status_;   // guarded by mu_
  int dirty_first_ = -1;                               // guarded by mu_
  int dirty_last_ = -1;                                // guarded by mu_
  bool rows_changed_ = false;                          // guarded by mu_
  std::array<bool, kStatusPartCount> status_dirty_{};  // guarded by mu_
  bool select_rows_pending_ = false;                   // guarded by mu_
  bool flush_queued_ = false;                          // guarded by mu_

  bool worker_cells_held_ = false;  // guarded by mu_
  std::atomic<int> row_resets_{0};

  int shown_rows_ = 0;  // the row count the view knows; user-interface thread
  // Each row's port and its verdict, by row; user-interface thread.
  struct RowLook {
    PortCounters counters;
    PortRunVerdict verdict;
  };
  std::vector<std::optional<RowLook>> row_looks_;
  // When FlushWhenDue last flushed; user-interface thread.
  std::chrono::steady_clock::time_point last_queued_flush_{};
};

}  // namespace quarnex

#endif  // QUARNEX_UI_RESULTS_MODEL_H_
