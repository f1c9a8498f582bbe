// TotalsRow: the totals under the results table.
#include "testapp/ui/totals_row.h"

#include <QHeaderView>
#include <QPalette>

namespace quarnex {

TotalsRow::TotalsRow(const QFont& font, int row_height, QWidget* parent)
    : QTableView(parent), cells_(1, kColumnCount), row_height_(row_height) {
  setObjectName("totalsRow");
  QFont bold = font;
  bold.setBold(true);
  setFont(bold);
  setModel(&cells_);
  for (int column = 0; column < kColumnCount; ++column) {
    auto* item = new QStandardItem();
    item->setEditable(false);
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    cells_.setItem(0, column, item);
  }
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::NoFocus);
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  horizontalHeader()->hide();
  horizontalHeader()->setStretchLastSection(true);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(row_height);
  // The window's colour sets the totals apart from the rows above.
  QPalette shade = palette();
  shade.setColor(QPalette::Base, shade.color(QPalette::Window));
  setPalette(shade);
}

void TotalsRow::SetTexts(const std::array<std::string, kColumnCount>& texts) {
  for (int column = 0; column < kColumnCount; ++column) {
    const QString text = QString::fromStdString(texts[static_cast<size_t>(column)]);
    QStandardItem* item = cells_.item(0, column);
    if (item->text() != text) item->setText(text);
  }
}

QString TotalsRow::Text(int column) const {
  const QStandardItem* item = cells_.item(0, column);
  return item != nullptr ? item->text() : QString();
}

}  // namespace quarnex
