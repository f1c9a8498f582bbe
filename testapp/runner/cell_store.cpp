#include "testapp/runner/cell_store.h"

#include <algorithm>
#include <cstdint>

#include "testapp/engine/line_status.h"

namespace quarnex {

namespace {

// The text of each single line-error flag, in the engine's own wording.
std::vector<std::string> BuildFlagTexts() {
  std::vector<std::string> texts;
  for (int bit = 0; bit < 32; ++bit) {
    std::string text = LineStatusText(uint32_t{1} << bit);
    if (!text.empty()) texts.push_back(std::move(text));
  }
  return texts;
}

}  // namespace

bool IsLineStatusText(std::string_view text) {
  static const std::vector<std::string> flag_texts = BuildFlagTexts();
  return std::any_of(flag_texts.begin(), flag_texts.end(),
                     [text](const std::string& flag) { return text.starts_with(flag); });
}

int CellStore::InsertRow(int position, std::string_view port_label) {
  auto row = std::make_unique<Row>();
  row->texts.slot = position;
  row->texts.cells[kColumnPort].assign(port_label);
  std::unique_lock lock(table_mu_);
  const int index = std::clamp(position, 0, static_cast<int>(rows_.size()));
  rows_.insert(rows_.begin() + index, std::move(row));
  return index;
}

void CellStore::DeleteAllRows() {
  std::unique_lock lock(table_mu_);
  rows_.clear();
}

void CellStore::SetCell(int row, int column, std::string_view text) {
  if (column < 0 || column >= kColumns) return;
  const bool comm_error =
      column == kColumnLastCommError || (column == kColumnTime && IsLineStatusText(text));
  std::shared_lock table_lock(table_mu_);
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  Row& target = *rows_[static_cast<size_t>(row)];
  std::lock_guard row_lock(target.mu);
  // assign() reuses the buffer: steady refreshes do not allocate.
  target.texts.cells[static_cast<size_t>(column)].assign(text);
  if (comm_error) target.texts.last_comm_error.assign(text);
}

void CellStore::SetStatus(int part, std::string_view text) {
  if (part < 0 || part >= kStatusParts) return;
  std::unique_lock lock(table_mu_);
  status_[static_cast<size_t>(part)].assign(text);
}

std::vector<CellStore::RowTexts> CellStore::Rows() const {
  std::shared_lock table_lock(table_mu_);
  std::vector<RowTexts> rows;
  rows.reserve(rows_.size());
  for (const auto& row : rows_) {
    std::lock_guard row_lock(row->mu);
    rows.push_back(row->texts);
  }
  return rows;
}

std::string CellStore::Status(int part) const {
  if (part < 0 || part >= kStatusParts) return std::string();
  std::shared_lock lock(table_mu_);
  return status_[static_cast<size_t>(part)];
}

}  // namespace quarnex
