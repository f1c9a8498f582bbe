// CellStore: the runner's results table (the window has its own model). The engine writes its cells
// as it would write the window's table.
//
// Every figure of a run comes from the typed snapshot (run_snapshot.h), so
// the runner reads back only the texts the engine alone knows (Notes): the
// Status cell before a port's first verdict (a file's progress texts) and
// the last line error or exerciser result. In Receive only the engine
// shows line errors in the time column, where the next refresh overwrites
// them; the store keeps them apart, so the runner can show them under
// "Last Comm Error" in every mode.
//
// Thread-safety: any thread may call any method. A reader-writer lock
// guards the row list (rows change only at Start) and each row has a lock
// of its own, so workers of different ports never wait for each other. A
// change of the list goes first: while one waits, new readers queue behind
// it, so workers that refresh their rows without pause (unpaced lines)
// never keep Start from inserting the next port's row.
#ifndef QUARNEX_STATION_CELL_STORE_H_
#define QUARNEX_STATION_CELL_STORE_H_

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/report/results_view.h"
#include "testapp/report/run_snapshot.h"

namespace quarnex {

class CellStore : public ResultsView {
 public:
  static constexpr int kColumns = kColumnLastCommError + 1;
  static constexpr int kStatusParts = kStatusSummary + 1;

  // The texts of one row, copied out.
  struct RowTexts {
    std::array<std::string, kColumns> cells;
    // The last line-error text (from either column) or exerciser result.
    std::string last_comm_error;
  };

  CellStore() = default;
  CellStore(const CellStore&) = delete;
  CellStore& operator=(const CellStore&) = delete;

  // ResultsView. The row goes to min(position, row count), as in the
  // window.
  int InsertRow(int position, std::string_view port_label) override;
  void DeleteAllRows() override;
  void SetCell(int row, int column, std::string_view text) override;
  void SetStatus(int part, std::string_view text) override;
  void SelectWholeRows() override {}

  // Every row in table order.
  std::vector<RowTexts> Rows() const;
  // Each row's Status text and last line-error text, in table order: what
  // AttachRowNotes adds to a snapshot.
  std::vector<RowNotes> Notes() const;
  // The text of a status-bar part; empty for a part that does not exist.
  std::string Status(int part) const;

 private:
  struct Row {
    std::mutex mu;
    RowTexts texts;  // guarded by mu
  };

  // Exclusive use of table_mu_, ahead of the readers that come after.
  std::unique_lock<std::shared_mutex> LockForChange();
  // Shared use of table_mu_, behind a change that waits for it.
  std::shared_lock<std::shared_mutex> LockForReading() const;

  mutable std::shared_mutex table_mu_;
  // A change holds the turnstile while it waits for table_mu_; readers pass
  // through it only while one is waiting.
  mutable std::mutex turnstile_;
  std::atomic<int> changes_waiting_{0};
  std::vector<std::unique_ptr<Row>> rows_;        // guarded by table_mu_
  std::array<std::string, kStatusParts> status_;  // guarded by table_mu_
};

// TakeRunSnapshot of the run of `context` with the notes of the rows of
// `rows` attached: the snapshot every report of the runner is made from.
RunSnapshot TakeTableSnapshot(const RunContext& context, const CellStore& rows, double elapsed_s);

// True when `text` is a line-error text of the engine (starts with the text
// of one of the line-error flags).
bool IsLineStatusText(std::string_view text);

}  // namespace quarnex

#endif  // QUARNEX_STATION_CELL_STORE_H_
