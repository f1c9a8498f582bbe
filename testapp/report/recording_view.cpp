#include "testapp/report/recording_view.h"

#include <algorithm>
#include <utility>

namespace quarnex {

bool RecordingView::CellExists(int row, int column) const {
  return row >= 0 && static_cast<size_t>(row) < rows_.size() && column >= 0 && column < kColumns;
}

void RecordingView::WriteCell(CellRecord& cell, std::string_view text) {
  // assign() reuses the cell's buffer, so a steady stream of refreshes does
  // not allocate once the texts have reached their usual length.
  cell.text.assign(text);
  if (keep_history_) cell.history.emplace_back(text);
  ++cell_writes_;
}

int RecordingView::InsertRow(int position, std::string_view port_label) {
  std::lock_guard<std::mutex> lock(mu_);
  const int row = std::clamp(position, 0, static_cast<int>(rows_.size()));
  auto inserted = rows_.emplace(rows_.begin() + row);
  WriteCell((*inserted)[kColumnPort], port_label);
  return row;
}

void RecordingView::DeleteAllRows() {
  std::lock_guard<std::mutex> lock(mu_);
  rows_.clear();
}

void RecordingView::SetCell(int row, int column, std::string_view text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!CellExists(row, column)) return;
  WriteCell(rows_[static_cast<size_t>(row)][static_cast<size_t>(column)], text);
}

void RecordingView::SetStatus(int part, std::string_view text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (part < 0 || part >= kStatusParts) return;
  status_[static_cast<size_t>(part)].assign(text);
}

void RecordingView::SelectWholeRows() {
  std::lock_guard<std::mutex> lock(mu_);
  whole_rows_selected_ = true;
}

void RecordingView::ShowError(std::string_view text) {
  std::lock_guard<std::mutex> lock(mu_);
  messages_.emplace_back(text);
}

void RecordingView::SetHistoryEnabled(bool keep_history) {
  std::lock_guard<std::mutex> lock(mu_);
  keep_history_ = keep_history;
  if (keep_history) return;
  for (Row& row : rows_) {
    for (CellRecord& cell : row) std::vector<std::string>().swap(cell.history);
  }
}

int RecordingView::RowCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(rows_.size());
}

std::string RecordingView::Cell(int row, int column) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!CellExists(row, column)) return std::string();
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)].text;
}

std::vector<std::string> RecordingView::CellHistory(int row, int column) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!CellExists(row, column)) return {};
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)].history;
}

std::string RecordingView::Status(int part) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (part < 0 || part >= kStatusParts) return std::string();
  return status_[static_cast<size_t>(part)];
}

std::vector<std::string> RecordingView::Messages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return messages_;
}

bool RecordingView::WholeRowsSelected() const {
  std::lock_guard<std::mutex> lock(mu_);
  return whole_rows_selected_;
}

uint64_t RecordingView::CellWriteCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cell_writes_;
}

}  // namespace quarnex
