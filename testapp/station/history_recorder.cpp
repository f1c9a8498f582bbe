#include "testapp/station/history_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "testapp/platform/clock.h"
#include "testapp/station/station_run.h"
#include "testapp/station/stop_request.h"

namespace quarnex {

namespace {

// How often RunRecorded looks at the stop request while it waits.
constexpr double kLookMs = 20.0;
// How long the end of a run waits for the history's last writes: long
// enough for another station's ordinary transaction, short enough that a
// locked file never keeps the process long past its run. A record that
// does not make it is named (history_error), never dropped silently.
constexpr double kEndOfRunWaitMs = 2000.0;

}  // namespace

HistoryRecorder::HistoryRecorder(RunHistory& history, std::string label, bool record_intervals)
    : history_(history),
      label_(std::move(label)),
      record_intervals_(record_intervals),
      writer_([this] { WriteQueued(); }) {}

HistoryRecorder::~HistoryRecorder() { Close(); }

std::optional<std::string> HistoryRecorder::failure() const {
  std::lock_guard lock(mu_);
  return failure_;
}

void HistoryRecorder::Note(const std::string& error) {
  std::lock_guard lock(mu_);
  if (failure_) return;
  std::fprintf(stderr, "%s: %s\n", kRunnerName, error.c_str());
  failure_ = error;
}

void HistoryRecorder::Post(Write write) {
  {
    std::lock_guard lock(mu_);
    if (closing_) return;
    queue_.push_back(std::move(write));
  }
  cv_.notify_all();
}

void HistoryRecorder::WriteQueued() {
  std::unique_lock lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (closing_) return;
    Write write = std::move(queue_.front());
    queue_.pop_front();
    writing_ = true;
    lock.unlock();
    write();
    lock.lock();
    writing_ = false;
    cv_.notify_all();
  }
}

void HistoryRecorder::Close() {
  history_.CutWaits();
  {
    std::lock_guard lock(mu_);
    if (closing_) return;
    closing_ = true;
    queue_.clear();
  }
  cv_.notify_all();
  writer_.join();
}

void HistoryRecorder::RunStarted(const RunContext& context, const RunDescription& run,
                                 std::time_t started_at, const CellStore& view) {
  (void)context, (void)started_at, (void)view;
  Post([this, started = HistoryRunStarted(run, label_)] {
    std::string error;
    run_id_ = history_.BeginRun(started, &error);
    if (run_id_ == 0) Note(error);
  });
}

void HistoryRecorder::RunInterval(const RunSnapshot& now, const RunSnapshot& before) {
  const int seq = ++seq_;
  if (!record_intervals_) return;
  Post([this, seq, now, before] {
    // Without the run's row the reports have nothing to belong to.
    if (run_id_ == 0) return;
    std::string error;
    if (!history_.RecordInterval(run_id_, seq, now, before, &error)) Note(error);
  });
}

void HistoryRecorder::RunEnded(const RunOutcome& outcome) {
  Post([this, finished = HistoryRunOf(outcome, label_, std::time(nullptr))]() mutable {
    // A run whose row could not be begun goes in as a new row.
    finished.id = run_id_;
    std::string error;
    if (!history_.FinishRun(finished, &error)) Note(error);
  });
}

std::optional<std::string> HistoryRecorder::RunRecorded(StopRequest& stop) {
  const int seen = stop.Count();
  const double deadline = SteadyMilliseconds() + kEndOfRunWaitMs;
  {
    std::unique_lock lock(mu_);
    // A further Ctrl+C, SIGTERM or SIGHUP ends the wait.
    while ((!queue_.empty() || writing_) && stop.Count() == seen) {
      const double left = deadline - SteadyMilliseconds();
      if (left <= 0) break;
      cv_.wait_for(lock, std::chrono::duration<double, std::milli>(std::min(left, kLookMs)));
    }
  }
  // What still waits for the file fails now and says so; a write that has
  // the file finishes.
  history_.CutWaits();
  {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return queue_.empty() && !writing_; });
  }
  return failure();
}

}  // namespace quarnex
