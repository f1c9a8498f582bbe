// Ctrl+C (SIGINT) and SIGTERM for the runner: the first one stops the run as
// the window's Stop does, a second one ends the process at once.
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

// Blocks SIGINT and SIGTERM in the calling thread and ignores SIGPIPE (a
// closed pipe on standard output then gives a write error instead of
// killing the run before its stop record). Call first thing in main.
void BlockStopSignals();

class StopSignalWatcher {
 public:
  // Starts the watcher. `on_first` runs on the watcher thread when the first
  // signal arrives, with its number; it must only hand the request on (set
  // a flag, notify). A later signal writes a line to standard error and
  // ends the process with status 128 + its number, without stopping the
  // run or writing the log.
  explicit StopSignalWatcher(std::function<void(int)> on_first);
  // Ends and joins the watcher thread (within about kPollMs).
  ~StopSignalWatcher();
  StopSignalWatcher(const StopSignalWatcher&) = delete;
  StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

  static constexpr int kPollMs = 100;

 private:
  void Watch();

  std::function<void(int)> on_first_;
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

}  // namespace quarnex

#endif  // QUARNEX_RUNNER_STOP_SIGNALS_H_
