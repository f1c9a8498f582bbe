// ResultsTable and StatusBar: the main window's two controls.
#include "testapp/ui/results_table.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLayout>
#include <QPalette>
#include <QScrollBar>
#include <algorithm>

namespace quarnex {
namespace {

// Vertical room around a row's text.
constexpr int kRowPadding = 6;
// The stored column widths were made for a compact list font: one point
// below the usual text lets the time cell fit its default width.
constexpr qreal kFontStepDown = 1.0;
constexpr qreal kSmallestPointSize = 7.0;

}  // namespace

ResultsTable::ResultsTable(ResultsModel* model, const ColumnWidths& widths, QWidget* parent)
    : QTableView(parent) {
  setObjectName("table1000");
  QFont compact = font();
  if (compact.pointSizeF() > 0) {
    compact.setPointSizeF(std::max(compact.pointSizeF() - kFontStepDown, kSmallestPointSize));
    setFont(compact);
  }
  setModel(model);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);

  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + kRowPadding);

  QHeaderView* header = horizontalHeader();
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setSectionResizeMode(QHeaderView::Interactive);
  // The last column takes whatever width the window has left.
  header->setStretchLastSection(true);
  header->setHighlightSections(false);
  header->setSectionsClickable(false);
  // The stretched last column takes no stored width: its width follows the
  // window, and a stored one would only force a scroll bar.
  for (int i = 0; i < kColumnCount - 1; ++i) {
    // A column left at its default width is widened to show its whole
    // title; a width the user chose is kept as it is.
    int width = static_cast<int>(widths.Width[i]);
    if (widths.Width[i] == kDefaultColumnWidths.Width[i]) {
      width = std::max(width, header->sectionSizeHint(i));
    }
    header->resizeSection(i, width);
  }

  // The total row follows the columns' widths and the horizontal scroll.
  totals_ = new TotalsRow(font(), verticalHeader()->defaultSectionSize(), this);
  totals_->setHorizontalScrollMode(horizontalScrollMode());
  for (int i = 0; i < kColumnCount - 1; ++i) totals_->setColumnWidth(i, header->sectionSize(i));
  connect(header, &QHeaderView::sectionResized, totals_,
          [this](int column, int, int size) { totals_->setColumnWidth(column, size); });
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, totals_->horizontalScrollBar(),
          &QScrollBar::setValue);
  connect(model, &QAbstractItemModel::rowsInserted, this, &ResultsTable::UpdateTotalsVisibility);
  connect(model, &QAbstractItemModel::rowsRemoved, this, &ResultsTable::UpdateTotalsVisibility);
  totals_->hide();
}

void ResultsTable::SetTotals(const std::array<std::string, kColumnCount>& texts) {
  totals_->SetTexts(texts);
  totals_set_ = true;
  UpdateTotalsVisibility();
}

void ResultsTable::UpdateTotalsVisibility() {
  const bool show = totals_set_ && model()->rowCount() > 0;
  if (show == !totals_->isHidden()) return;
  totals_->setVisible(show);
  updateGeometries();
}

void ResultsTable::updateGeometries() {
  QTableView::updateGeometries();
  // QTableView sets the margins for its header and leaves none below; the
  // total row takes its height there, above the horizontal scroll bar.
  const int foot = totals_ != nullptr && !totals_->isHidden() ? totals_->RowHeight() : 0;
  QMargins margins = viewportMargins();
  if (margins.bottom() != foot) {
    margins.setBottom(foot);
    setViewportMargins(margins);
  }
  if (foot == 0) return;
  const QRect rows = viewport()->geometry();
  totals_->setGeometry(rows.left(), rows.bottom() + 1, rows.width(), foot);
}

uint32_t ResultsTable::ColumnWidth(int column) const {
  if (column < 0 || column >= horizontalHeader()->count()) return 0;
  return static_cast<uint32_t>(horizontalHeader()->sectionSize(column));
}

void ResultsTable::SelectWholeRows() { setSelectionBehavior(QAbstractItemView::SelectRows); }

StatusBar::StatusBar(int client_width, QWidget* parent) : QStatusBar(parent) {
  setObjectName("status501");
  setSizeGripEnabled(false);
  for (int i = 0; i < kStatusPartCount; ++i) {
    parts_[i] = new QLabel(this);
    parts_[i]->setObjectName(QString("statusPart%1").arg(i));
    parts_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    parts_[i]->setTextFormat(Qt::PlainText);
    parts_[i]->setMinimumWidth(0);
  }
  parts_[0]->setFixedWidth(client_width / 2);
  addWidget(parts_[0], 0);
  addWidget(parts_[1], 1);
  parts_[0]->setText("Ready");
  // Permanent widgets, so the engine's status writes never reach them.
  run_summary_ = new QLabel(this);
  run_summary_->setObjectName("statusRunSummary");
  run_summary_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  run_summary_->setTextFormat(Qt::PlainText);
  run_summary_->setAutoFillBackground(true);
  // It gives way rather than widen the window: a narrow window cuts its
  // text short, and the tooltip keeps it whole.
  run_summary_->setMinimumWidth(1);
  addPermanentWidget(run_summary_, 0);
  run_summary_->hide();
  log_warning_ = new QLabel(this);
  log_warning_->setObjectName("statusLogWarning");
  log_warning_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  log_warning_->setTextFormat(Qt::PlainText);
  addPermanentWidget(log_warning_, 0);
  log_warning_->hide();
  TrimSpacing();
  // Measured once: the layout keeps this height from now on.
  setFixedHeight(sizeHint().height());
}

void StatusBar::TrimSpacing() {
  QLayout* box = layout();
  if (box == nullptr) return;
  for (int i = 0; i < box->count(); ++i) {
    if (QSpacerItem* spacer = box->itemAt(i)->spacerItem()) spacer->changeSize(0, 0);
  }
  box->invalidate();
}

void StatusBar::SetLogWarning(const QString& text) {
  log_warning_->setText(text);
  log_warning_->setToolTip(text);
  log_warning_->setVisible(!text.isEmpty());
  TrimSpacing();
}

QString StatusBar::LogWarning() const { return log_warning_->text(); }

void StatusBar::SetRunSummary(const QString& text, const QColor& background) {
  if (run_summary_->text() != text) {
    run_summary_->setText(text);
    run_summary_->setToolTip(text);
  }
  if (background != run_summary_color_) {
    run_summary_color_ = background;
    QPalette shade = palette();
    if (background.isValid()) {
      shade.setColor(QPalette::Window, background);
      shade.setColor(QPalette::WindowText, Qt::black);
    }
    run_summary_->setPalette(shade);
  }
  if (run_summary_->isHidden() != text.isEmpty()) {
    run_summary_->setVisible(!text.isEmpty());
    TrimSpacing();
  }
}

QString StatusBar::RunSummary() const { return run_summary_->text(); }

QColor StatusBar::RunSummaryColor() const { return run_summary_color_; }

QString StatusBar::PartText(int part) const {
  if (part < 0 || part >= kStatusPartCount) return {};
  return parts_[part]->text();
}

int StatusBar::PartWidth(int part) const {
  if (part < 0 || part >= kStatusPartCount) return 0;
  return parts_[part]->width();
}

void StatusBar::SetPartText(int part, const QString& text) {
  if (part < 0 || part >= kStatusPartCount) return;
  parts_[part]->setText(text);
}

}  // namespace quarnex
