// The headless run: the window's Start, the reports while the run goes,
// and the window's Stop and close, driven by the command line instead of a
// menu.
//
// RunHeadless runs on the program's main thread, which plays the window's
// user-interface thread: it starts and stops the run, writes the log and
// all output. StopRequest is the one object another thread (the signal
// watcher) touches.
#ifndef QUARNEX_RUNNER_RUNNER_H_
#define QUARNEX_RUNNER_RUNNER_H_

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/runner/runner_options.h"
#include "testapp/station/stop_request.h"

namespace quarnex {

class RunObserver;

struct RunnerOutput {
  std::FILE* out = stdout;  // reports and the summary; must outlive the run
  // Set to the reason ("Broken pipe") when a write to `out` failed; the
  // runner writes nothing more there. Must outlive the run; may be null.
  std::optional<std::string>* out_error = nullptr;
  bool terminal = false;  // `out` is a terminal: draw the live table
  // Follow the run besides the reports (run_observer.h); each must outlive
  // the run.
  std::vector<RunObserver*> observers;
};

// Runs one test with `context` and its settings (already loaded and
// overridden), whose outputs are the runner's while the call lasts: opens
// the log, starts the run (start-up messages go to standard error),
// writes the start record, reports every options.interval_s until the run
// ends (duration, packets per port, every port done, or `stop`), then
// writes the stop record, stops the run, waits for its threads and closes
// every port, lets the observers finish what they keep of the run (a
// further request on `stop` cuts their waits short), and prints the
// summary. Returns the exit status (kExitPass,
// kExitFail or kExitNoPorts).
int RunHeadless(RunContext& context, const RunnerOptions& options, const RunnerOutput& output,
                StopRequest& stop);

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_RUNNER_H_
