#include "testapp/runner/runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "testapp/engine/headless_run.h"
#include "testapp/engine/port_snapshot.h"
#include "testapp/engine/port_table.h"
#include "testapp/engine/run_controller.h"
#include "testapp/engine/transfer_wait.h"
#include "testapp/platform/clock.h"
#include "testapp/report/log_file.h"
#include "testapp/report/row_text.h"
#include "testapp/report/run_snapshot.h"
#include "testapp/report/text_format.h"
#include "testapp/runner/live_screen.h"
#include "testapp/runner/stderr_messages.h"
#include "testapp/runner/text_report.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/configure_port.h"
#include "testapp/settings/settings_state.h"
#include "testapp/station/cell_store.h"
#include "testapp/station/json_report.h"
#include "testapp/station/pass_fail.h"
#include "testapp/station/result_writing.h"
#include "testapp/station/run_observer.h"
#include "testapp/station/run_outcome.h"

namespace quarnex {

namespace {

// How often the loop looks whether every port has finished or reached
// --packets, between two reports.
constexpr double kPollMs = 20.0;
// Lines of the live table besides the port rows: headline, column header,
// a "more ports" line and the total.
constexpr int kTableChromeLines = 4;

// The slots that were opened at Start: the engine gave each one a row, as
// it did to the ports it could not open.
std::vector<int> OpenedSlots(const RunContext& context) {
  std::vector<int> slots;
  for (const PortSnapshot& port : TakeRunSnapshot(context, 0.0).Ports) {
    if (port.Opened) slots.push_back(port.Slot);
  }
  return slots;
}

// True when every opened port is closed or has judged at least `packets`
// packets (0: only closed ports count as done).
bool AllPortsDone(const RunState& run, const std::vector<int>& slots, int32_t packets) {
  for (int slot : slots) {
    const PortContext& port = run.Ports[static_cast<size_t>(slot)];
    if (port.InUse.load() == 0) continue;
    if (packets > 0 && port.PacketCount.load() >= packets) continue;
    return false;
  }
  return true;
}

// True when an opened port judged a packet bad.
bool AnyPortFailedAPacket(const RunState& run, const std::vector<int>& slots) {
  return std::any_of(slots.begin(), slots.end(), [&run](int slot) {
    return run.Ports[static_cast<size_t>(slot)].ErrorCount.load() > 0;
  });
}

// Reports of one run to one stream, in the form the options ask for.
class Reporter {
 public:
  Reporter(const RunnerOptions& options, const RunnerOutput& output, const CellStore& view)
      : options_(options), output_(output), view_(view), screen_(output.out) {}

  // Draws the table at once on a terminal, before the first report.
  void Begin(const RunSnapshot& now) {
    if (!options_.quiet && !options_.json && output_.terminal) {
      DrawTable(now, view_.Status(kStatusState) + "   (Ctrl+C stops)");
    }
  }

  void Interval(const RunSnapshot& now, const RunSnapshot& before) {
    if (options_.quiet) return;
    ++seq_;
    if (options_.json) {
      Write(JsonIntervalLine(now, before, seq_));
    } else if (output_.terminal) {
      DrawTable(now, view_.Status(kStatusState) + "   (Ctrl+C stops)");
    } else {
      Write(IntervalLines(now, before));
    }
  }

  void Summary(const RunOutcome& outcome) {
    if (options_.json) return Write(JsonSummaryLine(outcome));
    if (output_.terminal && !options_.quiet && outcome.end_reason != EndReason::kNotStarted) {
      DrawTable(outcome.figures, view_.Status(kStatusState));
    }
    Write(TextSummary(outcome));
  }

 private:
  void DrawTable(const RunSnapshot& now, const std::string& state) {
    const std::string headline = FormatC("%s  %s  [%s]  %.1f s", kRunnerName, state.c_str(),
                                         view_.Status(kStatusSummary).c_str(), now.ElapsedSeconds);
    const int rows = std::max(1, LiveScreen::Rows(output_.out) - kTableChromeLines);
    if (Failed()) return;
    errno = 0;
    // One column short of the width: a line that fills the last column
    // wraps on some terminals.
    screen_.Draw(LiveTable(now, headline, rows, LiveScreen::Columns(output_.out) - 1));
    if (std::ferror(output_.out)) NoteFailure();
  }

  void Write(const std::string& text) {
    if (Failed()) return;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), output_.out) != text.size() ||
        std::fflush(output_.out) != 0) {
      NoteFailure();
    }
  }

  // A reader that went away (`| head -1`) or a full disk: the reason is
  // kept for main to tell, and nothing more is written there.
  bool Failed() const { return output_.out_error != nullptr && output_.out_error->has_value(); }
  void NoteFailure() {
    if (output_.out_error == nullptr || output_.out_error->has_value()) return;
    *output_.out_error = errno != 0 ? std::strerror(errno) : "write error";
  }

  const RunnerOptions& options_;
  const RunnerOutput& output_;
  const CellStore& view_;
  LiveScreen screen_;
  int seq_ = 0;
};

// Waits for the end of the run, reporting every interval. Returns why the
// run ended.
EndReason ReportUntilEnd(RunContext& context, const RunnerOptions& options, StopRequest& stop,
                         const CellStore& view, Reporter& reporter, double start_ms,
                         const std::vector<RunObserver*>& observers) {
  const std::vector<int> opened = OpenedSlots(context);
  const double interval_ms = options.interval_s * 1000.0;
  const double deadline = options.duration_s ? start_ms + *options.duration_s * 1000.0
                                             : std::numeric_limits<double>::infinity();
  // A reader that reaches PauseAfter ends and closes its port; in Transmit
  // only the writer just stops sending and the port stays open, so there
  // the count itself says the port is done.
  const TestSettings& test = context.settings.Test;
  const int32_t finished_at = test.Mode == kTransmitOnly ? test.PauseAfter : 0;
  RunSnapshot before = TakeTableSnapshot(context, view, 0.0);
  reporter.Begin(before);
  double next_report = start_ms + interval_ms;
  for (;;) {
    const double now = SteadyMilliseconds();
    if (stop.Requested()) return EndReason::kSignal;
    if (options.stop_on_error && AnyPortFailedAPacket(context.run, opened))
      return EndReason::kFirstError;
    if (now >= deadline) return EndReason::kDuration;
    if (options.packets_per_port && AllPortsDone(context.run, opened, *options.packets_per_port)) {
      return EndReason::kPackets;
    }
    if (AllPortsDone(context.run, opened, finished_at)) return EndReason::kPortsDone;
    for (RunObserver* observer : observers) observer->RunPolled(opened, (now - start_ms) / 1000.0);
    if (now >= next_report) {
      RunSnapshot figures = TakeTableSnapshot(context, view, (now - start_ms) / 1000.0);
      reporter.Interval(figures, before);
      for (RunObserver* observer : observers) observer->RunInterval(figures, before);
      before = std::move(figures);
      next_report += interval_ms;
      // A report that came late (a stalled terminal) does not make the next
      // ones come in a burst.
      if (next_report <= now) next_report = now + interval_ms;
    }
    const double wake = std::min({next_report, deadline, now + kPollMs});
    stop.WaitFor(wake - SteadyMilliseconds());
    // A wake-up far past its time (the process was stopped, the machine
    // starved it) is the tester's hold-up: the figures taken next must not
    // blame the lines for it.
    NoteWake(context.run, wake, SteadyMilliseconds());
  }
}

// Tells every observer the run is over, then lets each finish what it
// keeps of it; the first failure it reports goes into the summary.
void EndForObservers(const std::vector<RunObserver*>& observers, StopRequest& stop,
                     RunOutcome* outcome) {
  for (RunObserver* observer : observers) observer->RunEnded(*outcome);
  for (RunObserver* observer : observers) {
    std::optional<std::string> failure = observer->RunRecorded(stop);
    if (failure && !outcome->history_error) outcome->history_error = std::move(failure);
  }
}

}  // namespace

int RunHeadless(RunContext& context, const RunnerOptions& options, const RunnerOutput& output,
                StopRequest& stop) {
  CellStore view;
  StderrMessages messages;
  context.SetOutputs(&view, &messages);
  Reporter reporter(options, output, view);

  LogFile log;
  std::optional<std::string> log_error;
  // Told once on standard error and kept for the summary; the verdict and
  // the exit status stay what the ports say.
  const auto note_log_failure = [&log, &log_error](const char* consequence) {
    std::optional<std::string> failure = log.TakeFailure();
    if (!failure) return;
    std::fprintf(stderr, "%s: %s%s\n", kRunnerName, failure->c_str(), consequence);
    if (!log_error) log_error = std::move(failure);
  };
  if (!options.no_log && !log.Open(options.log_path.c_str())) {
    note_log_failure("; running without a log");
  }

  context.config_overrides = options.config_overrides;
  // The first bad packet holds every port at once; the loop below then
  // ends the run.
  context.run.PauseOnError.store(options.stop_on_error ? 1 : 0);
  bool started = StartHeadlessRun(context);
  // main() refused a configuration file that could not be read; one that
  // could not be read by the time the run started (no descriptor left once
  // the log and the first port were open) is refused the same way: the
  // ports would run a line nobody configured.
  if (started && !context.config_problem.empty() && !IsMissingFileReason(context.config_problem)) {
    StopRun(context);
    std::fprintf(stderr, "%s: %s\n", kRunnerName,
                 ConfigFileDetail(kConfigFileName, context.config_problem).c_str());
    started = false;
  }
  const double start_ms = SteadyMilliseconds();
  const std::time_t started_at = std::time(nullptr);

  RunOutcome outcome;
  if (!started) {
    // Ports left open by a failed start are closed here, as at window close.
    JoinAllPorts(context);
    CloseAllPorts(context);
    outcome.run = DescribeRun(context, StationRunOf(options), false, started_at);
    outcome.run.log_path.reset();
    outcome.figures = TakeTableSnapshot(context, view, 0.0);
    outcome.messages = messages.Messages();
    outcome.log_error = log_error;
    outcome.exit_status = kExitNoPorts;
    EndForObservers(output.observers, stop, &outcome);
    reporter.Summary(outcome);
    context.SetOutputs(nullptr, nullptr);
    return kExitNoPorts;
  }

  ReportRunStart(context, log, view);
  note_log_failure("");
  outcome.run = DescribeRun(context, StationRunOf(options), true, started_at);
  if (!log.IsOpen()) outcome.run.log_path.reset();
  for (RunObserver* observer : output.observers)
    observer->RunStarted(context, outcome.run, started_at, view);

  outcome.end_reason =
      ReportUntilEnd(context, options, stop, view, reporter, start_ms, output.observers);

  // The window's Stop: the stop record from counters taken while the
  // workers still run, then the stop itself. The summary is made from the
  // same snapshot, so the two agree counter for counter.
  outcome.figures = TakeTableSnapshot(context, view, (SteadyMilliseconds() - start_ms) / 1000.0);
  for (RunObserver* observer : output.observers) observer->RunStopping(outcome.figures);
  {
    // A second Ctrl+C waits for the record to be whole.
    const ResultWriting writing;
    WriteStopRecord(log, StopRecordPorts(outcome.figures));
  }
  note_log_failure("");
  StopRun(context);
  view.SetStatus(kStatusState, kStatusStopped);
  // And its close: every worker ends, every port is closed.
  JoinAllPorts(context);
  CloseAllPorts(context);
  log.Close();

  outcome.messages = messages.Messages();
  outcome.log_error = log_error;
  // A run ended by its first bad packet fails, whatever --max-errors allows.
  outcome.exit_status = outcome.end_reason == EndReason::kFirstError
                            ? kExitFail
                            : ExitStatusFor(outcome.figures, outcome.run.limits);
  EndForObservers(output.observers, stop, &outcome);
  reporter.Summary(outcome);
  context.SetOutputs(nullptr, nullptr);
  return outcome.exit_status;
}

}  // namespace quarnex
