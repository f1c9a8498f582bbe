// "Save results...": the window's table as CSV, and its run's summary in
// the headless runner's JSON schema (saved_results.h), side by side.
//
// Functions of the user-interface thread.
#ifndef QUARNEX_UI_RESULTS_EXPORT_H_
#define QUARNEX_UI_RESULTS_EXPORT_H_

#include <QString>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/station/saved_results.h"
#include "testapp/ui/results_model.h"

namespace quarnex {

// The notes of the model's rows, by row: what a snapshot of the window's
// run takes from its table (AttachRowNotes).
std::vector<RowNotes> RowNotesOf(const ResultsModel& model);

// The model's table as CSV: the column titles, then every row's cells.
std::string ResultsCsv(const ResultsModel& model);

// Writes `<base>.csv` and `<base>.json` (a trailing ".csv" or ".json" in
// `base` is dropped first); the summary is that of the run of `context`. False, with the path and
// the reason in *error, when a file cannot be written.
bool SaveResults(const QString& base, const ResultsModel& model, const WindowRun& run,
                 const RunContext& context, QString* error);

}  // namespace quarnex

#endif  // QUARNEX_UI_RESULTS_EXPORT_H_
