// A ResultsView and MessageSink that records every text instead of showing
// it, so tests can read what the engine wrote and benches can run without a
// window.
//
// It keeps the current text of every cell, the row count, both status-bar
// parts, every message shown and, when history is on, every text written to
// each cell in turn (a file run's progress texts, for instance). History is
// on by default; a bench that writes cells at line rate turns it off so the
// memory stays bounded.
//
// Thread-safety: every method may be called from any thread; one mutex
// guards all state. Readers return copies, so their results stay valid after
// the lock is released.
#ifndef QUARNEX_REPORT_RECORDING_VIEW_H_
#define QUARNEX_REPORT_RECORDING_VIEW_H_

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/report/results_view.h"

namespace quarnex {

class RecordingView : public ResultsView, public MessageSink {
 public:
  static constexpr int kColumns = kColumnLastCommError + 1;
  static constexpr int kStatusParts = kStatusSummary + 1;

  explicit RecordingView(bool keep_history = true) : keep_history_(keep_history) {}
  RecordingView(const RecordingView&) = delete;
  RecordingView& operator=(const RecordingView&) = delete;

  // ResultsView. InsertRow puts the row at min(position, row count) (a
  // negative position at 0) and writes the label to column 0, which counts
  // as that cell's first write. SetCell and SetStatus ignore a row, column
  // or part that does not exist.
  int InsertRow(int position, std::string_view port_label) override;
  void DeleteAllRows() override;
  void SetCell(int row, int column, std::string_view text) override;
  void SetStatus(int part, std::string_view text) override;
  void SelectWholeRows() override;

  // MessageSink.
  void ShowError(std::string_view text) override;

  // Turns the per-cell history on or off; turning it off drops what was kept.
  void SetHistoryEnabled(bool keep_history);

  int RowCount() const;
  // The current text of a cell; empty for a cell that does not exist.
  std::string Cell(int row, int column) const;
  // Every text written to a cell since its row was inserted, oldest first;
  // empty when history is off or the cell does not exist.
  std::vector<std::string> CellHistory(int row, int column) const;
  // The current text of a status-bar part; empty for a part that does not exist.
  std::string Status(int part) const;
  // Every error message shown, oldest first.
  std::vector<std::string> Messages() const;
  bool WholeRowsSelected() const;
  // The number of cell writes accepted since construction (rows inserted
  // count one each for their label); a cheap progress figure for benches.
  uint64_t CellWriteCount() const;

 private:
  struct CellRecord {
    std::string text;
    std::vector<std::string> history;
  };
  using Row = std::array<CellRecord, kColumns>;

  // Requires mu_ held.
  bool CellExists(int row, int column) const;
  void WriteCell(CellRecord& cell, std::string_view text);

  mutable std::mutex mu_;
  bool keep_history_;                             // guarded by mu_
  std::vector<Row> rows_;                         // guarded by mu_
  std::array<std::string, kStatusParts> status_;  // guarded by mu_
  std::vector<std::string> messages_;             // guarded by mu_
  bool whole_rows_selected_ = false;              // guarded by mu_
  uint64_t cell_writes_ = 0;                      // guarded by mu_
};

}  // namespace quarnex

#endif  // QUARNEX_REPORT_RECORDING_VIEW_H_
