#include "testapp/station/cell_store.h"

#include <algorithm>
#include <cstdint>

#include "testapp/engine/line_status.h"
#include "testapp/engine/port_snapshot.h"

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

std::unique_lock<std::shared_mutex> CellStore::LockForChange() {
  changes_waiting_.fetch_add(1);
  std::lock_guard<std::mutex> turn(turnstile_);
  std::unique_lock<std::shared_mutex> lock(table_mu_);
  changes_waiting_.fetch_sub(1);
  return lock;
}

std::shared_lock<std::shared_mutex> CellStore::LockForReading() const {
  if (changes_waiting_.load() > 0) {
    std::lock_guard<std::mutex> turn(turnstile_);
  }
  return std::shared_lock<std::shared_mutex>(table_mu_);
}

int CellStore::InsertRow(int position, std::string_view port_label) {
  auto row = std::make_unique<Row>();
  row->texts.cells[kColumnPort].assign(port_label);
  const auto lock = LockForChange();
  const int index = std::clamp(position, 0, static_cast<int>(rows_.size()));
  rows_.insert(rows_.begin() + index, std::move(row));
  return index;
}

void CellStore::DeleteAllRows() {
  const auto lock = LockForChange();
  rows_.clear();
}

void CellStore::SetCell(int row, int column, std::string_view text) {
  if (column < 0 || column >= kColumns) return;
  const bool comm_error =
      column == kColumnLastCommError || (column == kColumnTime && IsLineStatusText(text));
  const auto table_lock = LockForReading();
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  Row& target = *rows_[static_cast<size_t>(row)];
  std::lock_guard row_lock(target.mu);
  // assign() reuses the buffer: steady refreshes do not allocate.
  target.texts.cells[static_cast<size_t>(column)].assign(text);
  if (comm_error) target.texts.last_comm_error.assign(text);
}

void CellStore::SetStatus(int part, std::string_view text) {
  if (part < 0 || part >= kStatusParts) return;
  const auto lock = LockForChange();
  status_[static_cast<size_t>(part)].assign(text);
}

std::vector<CellStore::RowTexts> CellStore::Rows() const {
  const auto table_lock = LockForReading();
  std::vector<RowTexts> rows;
  rows.reserve(rows_.size());
  for (const auto& row : rows_) {
    std::lock_guard row_lock(row->mu);
    rows.push_back(row->texts);
  }
  return rows;
}

std::vector<RowNotes> CellStore::Notes() const {
  const auto table_lock = LockForReading();
  std::vector<RowNotes> notes;
  notes.reserve(rows_.size());
  for (const auto& row : rows_) {
    std::lock_guard row_lock(row->mu);
    notes.push_back({row->texts.cells[kColumnStatus], row->texts.last_comm_error});
  }
  return notes;
}

RunSnapshot TakeTableSnapshot(const RunContext& context, const CellStore& rows, double elapsed_s) {
  RunSnapshot snapshot = TakeRunSnapshot(context, elapsed_s);
  AttachRowNotes(rows.Notes(), &snapshot);
  return snapshot;
}

std::string CellStore::Status(int part) const {
  if (part < 0 || part >= kStatusParts) return std::string();
  const auto lock = LockForReading();
  return status_[static_cast<size_t>(part)];
}

}  // namespace quarnex
