#include "testapp/runner/history_recorder.h"

#include <cstdio>
#include <utility>

#include "testapp/runner/runner_options.h"

namespace quarnex {

HistoryRecorder::HistoryRecorder(RunHistory& history, std::string label, bool record_intervals)
    : history_(history), label_(std::move(label)), record_intervals_(record_intervals) {}

void HistoryRecorder::Note(const std::string& error) {
  if (failure_) return;
  std::fprintf(stderr, "%s: %s\n", kRunnerName, error.c_str());
  failure_ = error;
}

void HistoryRecorder::RunStarted(const RunContext& context, const RunDescription& run,
                                 std::time_t started_at, const CellStore& view) {
  (void)context, (void)started_at, (void)view;
  std::string error;
  run_id_ = history_.BeginRun(HistoryRunStarted(run, label_), &error);
  if (run_id_ == 0) Note(error);
}

void HistoryRecorder::RunInterval(const RunFigures& now, const RunFigures& before) {
  ++seq_;
  if (!record_intervals_ || run_id_ == 0) return;
  std::string error;
  if (!history_.RecordInterval(run_id_, seq_, now, before, &error)) Note(error);
}

void HistoryRecorder::RunEnded(const RunOutcome& outcome) {
  HistoryRun run = HistoryRunOf(outcome, label_, std::time(nullptr));
  run.id = run_id_;
  std::string error;
  if (!history_.FinishRun(run, &error)) Note(error);
}

}  // namespace quarnex
