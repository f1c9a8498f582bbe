// ResultsTable: the report-style table of per-port results, with the run's
// totals pinned at its foot, and StatusBar: the two-part status line under
// it, with room on its right for the run's elapsed time and verdict and for
// a warning about the log.
//
// Both are plain widgets of the user-interface thread. Their texts come
// from ResultsModel, which any thread may write; the model tells them on
// the user-interface thread when to repaint.
#ifndef QUARNEX_UI_RESULTS_TABLE_H_
#define QUARNEX_UI_RESULTS_TABLE_H_

#include <QColor>
#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <QTableView>
#include <array>
#include <cstdint>
#include <string>

#include "testapp/settings/records.h"
#include "testapp/ui/results_model.h"
#include "testapp/ui/totals_row.h"

namespace quarnex {

class ResultsTable : public QTableView {
  Q_OBJECT

 public:
  // Shows `model` in six left-aligned columns of the given widths; single
  // selection, read-only. `model` must outlive the table.
  ResultsTable(ResultsModel* model, const ColumnWidths& widths, QWidget* parent = nullptr);

  // Current width of `column`, 0 when there is no such column.
  uint32_t ColumnWidth(int column) const;

  // Shows `texts` in the total row, which stays at the table's foot while
  // the table has rows.
  void SetTotals(const std::array<std::string, kColumnCount>& texts);
  const TotalsRow& Totals() const { return *totals_; }

 public slots:
  // From the first Start on, a click selects the whole row.
  void SelectWholeRows();

 protected:
  // Keeps room for the total row between the rows and the horizontal
  // scroll bar, and places it there.
  void updateGeometries() override;

 private:
  // Shows the total row once it has texts and the table has rows.
  void UpdateTotalsVisibility();

  TotalsRow* totals_ = nullptr;
  bool totals_set_ = false;
};

class StatusBar : public QStatusBar {
  Q_OBJECT

 public:
  // Part 0 spans half of `client_width` (the window's client width when the
  // bar is made), part 1 the rest. The edges and the bar's height are set
  // here once and never recomputed. Part 0 starts as "Ready".
  explicit StatusBar(int client_width, QWidget* parent = nullptr);

  QString PartText(int part) const;
  int PartWidth(int part) const;

  // The log warning, at the bar's right end beside the two parts; an empty
  // text hides it, leaving the parts as they always were.
  void SetLogWarning(const QString& text);
  QString LogWarning() const;

  // The run's elapsed time and verdict, in a part of its own between part 1
  // and the log warning, on `background` (none when invalid); an empty text
  // hides it.
  void SetRunSummary(const QString& text, const QColor& background);
  QString RunSummary() const;
  QColor RunSummaryColor() const;

 public slots:
  void SetPartText(int part, const QString& text);

 private:
  // Drops the fixed spacing the bar's own layout puts above and below its
  // parts, which would show as an empty strip under them.
  void TrimSpacing();

  std::array<QLabel*, kStatusPartCount> parts_;
  QLabel* run_summary_;
  QColor run_summary_color_;
  QLabel* log_warning_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_RESULTS_TABLE_H_
