// TotalsRow: the one-row table pinned at the foot of the results table,
// with the run's totals in the results table's columns.
//
// A plain widget of the user-interface thread. ResultsTable places it and
// keeps its column widths and horizontal scroll in step with its own; it
// has no model rows of its own, so the engine's row indices stay as they
// are.
#ifndef QUARNEX_UI_TOTALS_ROW_H_
#define QUARNEX_UI_TOTALS_ROW_H_

#include <QStandardItemModel>
#include <QString>
#include <QTableView>
#include <array>
#include <string>

#include "testapp/settings/records.h"

namespace quarnex {

class TotalsRow : public QTableView {
  Q_OBJECT

 public:
  // Rows of `row_height` pixels, in `font` made bold.
  TotalsRow(const QFont& font, int row_height, QWidget* parent = nullptr);

  // Replaces the texts, in column order.
  void SetTexts(const std::array<std::string, kColumnCount>& texts);
  QString Text(int column) const;
  // The height the row takes at the table's foot.
  int RowHeight() const { return row_height_; }

 private:
  QStandardItemModel cells_;
  int row_height_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_TOTALS_ROW_H_
