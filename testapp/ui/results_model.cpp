// ResultsModel: thread-safe texts of the results table and status bar.
#include "testapp/ui/results_model.h"

#include <QBrush>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

#include "testapp/report/port_details.h"

namespace quarnex {
namespace {

// Every column is left-aligned, headers included.
constexpr int kLeftAligned = Qt::AlignLeft | Qt::AlignVCenter;

// The shortest time between two repaints of the workers' writes. Flushing
// again as soon as the last flush ended kept the user-interface thread
// repainting for as long as the workers wrote (bench/ui/ui_bench, 128
// unpaced lines): given the CPU it took two thirds of a core from them, and
// without it, it never went idle and queued behind them for every event.
// 25 repaints a second still look live.
constexpr std::chrono::milliseconds kMinFlushInterval(40);

}  // namespace

QColor VerdictColor(PortRunVerdict verdict) {
  switch (verdict) {
    case PortRunVerdict::kPassing:
      return QColor(0xC6, 0xEB, 0xC6);
    case PortRunVerdict::kFailed:
      return QColor(0xF2, 0xA0, 0xA0);
    case PortRunVerdict::kNoPacketJudged:
      return QColor(0xD6, 0xD6, 0xD6);
    case PortRunVerdict::kLost:
    case PortRunVerdict::kStalled:
      return QColor(0xFF, 0xC8, 0x78);
    case PortRunVerdict::kClosed:
      break;
  }
  return QColor();
}

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {
  status_[kStatusState] = "Ready";
  // A connection made here, rather than a call object made by each worker's
  // invokeMethod, leaves nothing on the heap that one thread writes and the
  // other reads with only Qt's event queue between them, which ThreadSanitizer
  // cannot see into.
  connect(this, &ResultsModel::FlushRequested, this, &ResultsModel::FlushWhenDue,
          Qt::QueuedConnection);
}

ResultsModel::~ResultsModel() = default;

bool ResultsModel::OnUiThread() const { return QThread::currentThread() == thread(); }

void ResultsModel::RequestFlushLocked() {
  if (flush_queued_) return;
  flush_queued_ = true;
  // The queued connection only posts an event; the caller goes on at once.
  emit FlushRequested(QPrivateSignal());
}

void ResultsModel::FlushWhenDue() {
  const auto now = std::chrono::steady_clock::now();
  const auto due = last_queued_flush_ + kMinFlushInterval;
  if (now < due) {
    // flush_queued_ stays set, so the workers queue nothing meanwhile.
    QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(due - now), this,
                       &ResultsModel::FlushWhenDue);
    return;
  }
  last_queued_flush_ = now;
  Flush();
}

int ResultsModel::InsertRow(int position, std::string_view port_label) {
  int index;
  {
    std::lock_guard<std::mutex> lock(mu_);
    index = std::clamp(position, 0, static_cast<int>(rows_.size()));
    Row row;
    row[kColumnPort] = std::string(port_label);
    rows_.insert(rows_.begin() + index, std::move(row));
    rows_changed_ = true;
    if (!OnUiThread()) {
      RequestFlushLocked();
      return index;
    }
  }
  Flush();
  return index;
}

void ResultsModel::DeleteAllRows() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    rows_.clear();
    rows_changed_ = true;
    row_resets_.fetch_add(1);
    // The rows of a new run: its workers write them.
    worker_cells_held_ = false;
    if (!OnUiThread()) {
      RequestFlushLocked();
      return;
    }
  }
  row_looks_.clear();
  Flush();
}

void ResultsModel::SetCell(int row, int column, std::string_view text) {
  const bool ui_thread = OnUiThread();
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= kColumnCount) {
      return;
    }
    if (worker_cells_held_ && !ui_thread) return;
    rows_[row][column].assign(text);
    dirty_first_ = dirty_first_ < 0 ? row : std::min(dirty_first_, row);
    dirty_last_ = std::max(dirty_last_, row);
    if (!ui_thread) {
      RequestFlushLocked();
      return;
    }
  }
  Flush();
}

void ResultsModel::HoldWorkerCells() {
  std::lock_guard<std::mutex> lock(mu_);
  worker_cells_held_ = true;
}

void ResultsModel::SetRowPorts(const std::vector<RowPort>& ports) {
  for (const RowPort& port : ports) {
    if (port.row < 0 || port.row >= kMaxPorts) continue;
    const auto row = static_cast<size_t>(port.row);
    if (row >= row_looks_.size()) row_looks_.resize(row + 1);
    const PortRunVerdict verdict = VerdictSinceStart(port.counters);
    const bool recolour = !row_looks_[row] || row_looks_[row]->verdict != verdict;
    row_looks_[row] = RowLook{port.counters, verdict};
    // The tooltip is made when asked for; only a new colour needs a repaint.
    if (recolour && port.row < shown_rows_) {
      emit dataChanged(index(port.row, 0), index(port.row, kColumnCount - 1),
                       {Qt::BackgroundRole, Qt::ForegroundRole});
    }
  }
}

std::optional<PortRunVerdict> ResultsModel::RowVerdict(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= row_looks_.size() || !row_looks_[row]) return {};
  return row_looks_[row]->verdict;
}

void ResultsModel::SetStatus(int part, std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (part < 0 || part >= kStatusPartCount) return;
    status_[part].assign(text);
    status_dirty_[part] = true;
    if (!OnUiThread()) {
      RequestFlushLocked();
      return;
    }
  }
  Flush();
}

void ResultsModel::SelectWholeRows() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    select_rows_pending_ = true;
    if (!OnUiThread()) {
      RequestFlushLocked();
      return;
    }
  }
  Flush();
}

void ResultsModel::Flush() {
  bool rows_changed;
  int stored_rows, first, last;
  std::array<bool, kStatusPartCount> status_dirty;
  std::array<QString, kStatusPartCount> status_text;
  bool select_rows;
  {
    std::lock_guard<std::mutex> lock(mu_);
    flush_queued_ = false;
    rows_changed = rows_changed_;
    rows_changed_ = false;
    stored_rows = static_cast<int>(rows_.size());
    first = dirty_first_;
    last = dirty_last_;
    dirty_first_ = dirty_last_ = -1;
    status_dirty = status_dirty_;
    status_dirty_ = {};
    for (int i = 0; i < kStatusPartCount; ++i) {
      if (status_dirty[i]) status_text[i] = QString::fromStdString(status_[i]);
    }
    select_rows = select_rows_pending_;
    select_rows_pending_ = false;
  }
  // Signals go out without the lock: views call data(), which takes it.
  if (rows_changed) {
    if (stored_rows > shown_rows_) {
      beginInsertRows(QModelIndex(), shown_rows_, stored_rows - 1);
      shown_rows_ = stored_rows;
      endInsertRows();
    } else if (stored_rows < shown_rows_) {
      beginRemoveRows(QModelIndex(), stored_rows, shown_rows_ - 1);
      shown_rows_ = stored_rows;
      endRemoveRows();
    }
    // A row inserted in the middle shifts the texts of those below it.
    first = 0;
    last = shown_rows_ - 1;
  }
  last = std::min(last, shown_rows_ - 1);
  if (first >= 0 && first <= last) {
    emit dataChanged(index(first, 0), index(last, kColumnCount - 1), {Qt::DisplayRole});
  }
  for (int i = 0; i < kStatusPartCount; ++i) {
    if (status_dirty[i]) emit StatusTextChanged(i, status_text[i]);
  }
  if (select_rows) emit WholeRowSelectionRequested();
}

std::string ResultsModel::Text(int row, int column) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= kColumnCount) {
    return {};
  }
  return rows_[row][column];
}

std::string ResultsModel::StatusText(int part) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (part < 0 || part >= kStatusPartCount) return {};
  return status_[part];
}

int ResultsModel::StoredRowCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(rows_.size());
}

int64_t ResultsModel::SumColumn(int column, int rows) const {
  if (column < 0 || column >= kColumnCount) return 0;
  std::lock_guard<std::mutex> lock(mu_);
  const int count = std::min(rows, static_cast<int>(rows_.size()));
  int64_t sum = 0;
  for (int row = 0; row < count; ++row) {
    sum += std::strtoll(rows_[row][column].c_str(), nullptr, 10);
  }
  return sum;
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_rows_;
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::TextAlignmentRole) return kLeftAligned;
  const auto row = static_cast<size_t>(index.row());
  const RowLook* look = row < row_looks_.size() && row_looks_[row] ? &*row_looks_[row] : nullptr;
  if (role == Qt::BackgroundRole || role == Qt::ForegroundRole) {
    if (look == nullptr) return {};
    const QColor background = VerdictColor(look->verdict);
    if (!background.isValid()) return {};
    // Dark text on the light colours, whatever the desktop's palette.
    return role == Qt::BackgroundRole ? QBrush(background) : QBrush(Qt::black);
  }
  if (role == Qt::ToolTipRole) {
    // The cell's own text first, which a narrow column may cut short, then
    // the port's details.
    QString tip = QString::fromStdString(Text(index.row(), index.column()));
    if (look == nullptr) return tip;
    const QString details = QString::fromStdString(PortDetailsText(look->counters));
    if (index.column() == kColumnPort || tip.isEmpty()) return details;
    return tip + "\n\n" + details;
  }
  if (role != Qt::DisplayRole) return {};
  return QString::fromStdString(Text(index.row(), index.column()));
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kColumnHeaders[section]);
  if (role == Qt::TextAlignmentRole) return kLeftAligned;
  return {};
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace quarnex
