#include "testapp/ui/results_export.h"

#include <QFile>
#include <cstring>
#include <string>

#include "testapp/report/csv_table.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {
namespace {

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

std::vector<RowNotes> RowNotesOf(const ResultsModel& model) {
  std::vector<RowNotes> rows;
  for (int r = 0; r < model.rowCount(); ++r) {
    rows.push_back({model.Text(r, kColumnStatus), model.Text(r, kColumnLastCommError)});
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
         WriteFile(stem + ".json", WindowRunSummaryJson(context, RowNotesOf(model), run) + "\n",
                   error);
}

}  // namespace quarnex
