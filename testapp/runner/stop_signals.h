// Ctrl+C (SIGINT), SIGTERM and SIGHUP (a closed terminal or SSH session)
// for the runner. The first one stops the run as the window's Stop does.
// A later SIGTERM or SIGHUP only cuts waits short (a busy history,
// --metrics-linger): the stop record, the summary and the history are
// still written, so a burst of signals from a supervisor or a closing
// session never loses them. A later Ctrl+C is a person who wants out: it
// ends the process at once with status 130, except that a record being
// written (result_writing.h) is finished first.
//
// Process-wide, as the signal mask and the signals' dispositions are.
//
// No work is done in a signal handler: the signals are blocked in every
// thread (BlockStopSignals, called before any thread exists, so every
// thread inherits the mask) and one watcher thread takes them with
// sigtimedwait and acts on them as ordinary code.
#ifndef QUARNEX_RUNNER_STOP_SIGNALS_H_
#define QUARNEX_RUNNER_STOP_SIGNALS_H_

#include <atomic>
#include <functional>
#include <thread>

namespace quarnex {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and ignores
// SIGPIPE (a closed pipe on standard output then gives a write error,
// which the runner reports, instead of killing the run before its stop
// record). Call first thing in main.
void BlockStopSignals();

class StopSignalWatcher {
 public:
  // Starts the watcher. `on_signal` runs on the watcher thread for every
  // stop signal that does not end the process, with its number; it must
  // only hand the request on (set a flag, notify). A Ctrl+C after the
  // first signal writes a line to standard error and ends the process with
  // status 128 + SIGINT once no record is being written, without stopping
  // the run or writing the summary.
  explicit StopSignalWatcher(std::function<void(int)> on_signal);
  // Ends and joins the watcher thread (within about kPollMs).
  ~StopSignalWatcher();
  StopSignalWatcher(const StopSignalWatcher&) = delete;
  StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

  static constexpr int kPollMs = 100;

 private:
  void Watch();

  std::function<void(int)> on_signal_;
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_STOP_SIGNALS_H_
