#include "testapp/ui/results_export.h"

#include <QFile>
#include <cstring>
#include <string>

#include "testapp/report/csv_table.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

// The number at the end of a port label ("Quarnex07" gives 7), or -1.
int LabelNumber(const std::string& label) {
  size_t start = label.size();
  while (start > 0 && label[start - 1] >= '0' && label[start - 1] <= '9') --start;
  if (start == label.size() || label.size() - start > 6) return -1;
  int number = 0;
  for (size_t i = start; i < label.size(); ++i) number = number * 10 + (label[i] - '0');
  return number;
}

bool WriteFile(const QString& path, const std::string& bytes, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()) ||
      !file.flush()) {
    *error = path + ": " + file.errorString();
    return false;
  }
  return true;
}

}  // namespace

std::vector<CellStore::RowTexts> RowTextsOf(const ResultsModel& model, int32_t first_port) {
  std::vector<CellStore::RowTexts> rows;
  for (int r = 0; r < model.rowCount(); ++r) {
    CellStore::RowTexts row;
    for (int c = 0; c < CellStore::kColumns; ++c) row.cells[c] = model.Text(r, c);
    const int number = LabelNumber(row.cells[kColumnPort]);
    row.slot = number < 0 ? -1 : number - first_port;
    row.last_comm_error = row.cells[kColumnLastCommError];
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string ResultsCsv(const ResultsModel& model) {
  std::vector<std::string> headers;
  for (int c = 0; c < model.columnCount(); ++c) {
    headers.push_back(
        model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
  }
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < model.rowCount(); ++r) {
    std::vector<std::string>& cells = rows.emplace_back();
    for (int c = 0; c < model.columnCount(); ++c) cells.push_back(model.Text(r, c));
  }
  return CsvTable(headers, rows);
}

bool SaveResults(const QString& base, const ResultsModel& model, const WindowRun& run,
                 const RunContext& context, QString* error) {
  QString stem = base;
  for (const char* suffix : {".csv", ".json"}) {
    if (stem.endsWith(suffix, Qt::CaseInsensitive)) stem.chop(static_cast<int>(strlen(suffix)));
  }
  return WriteFile(stem + ".csv", ResultsCsv(model), error) &&
         WriteFile(stem + ".json",
                   WindowRunSummaryJson(context, RowTextsOf(model, context.settings.Test.PortIndex),
                                        run) +
                       "\n",
                   error);
}

}  // namespace quarnex
