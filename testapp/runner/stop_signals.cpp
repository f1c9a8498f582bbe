#include "testapp/runner/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <ctime>

#include "testapp/station/result_writing.h"

namespace quarnex {

namespace {

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

StopSignalWatcher::StopSignalWatcher(std::function<void(int)> on_signal)
    : on_signal_(std::move(on_signal)), thread_([this] { Watch(); }) {}

StopSignalWatcher::~StopSignalWatcher() {
  quit_.store(true);
  thread_.join();
}

void StopSignalWatcher::Watch() {
  const sigset_t set = StopSignalSet();
  const timespec poll = {0, kPollMs * 1000 * 1000};
  bool stopping = false;
  while (!quit_.load()) {
    const int signo = sigtimedwait(&set, nullptr, &poll);
    if (signo < 0) continue;  // the poll's timeout, or EINTR
    // Supervisors and closing sessions send SIGTERM and SIGHUP in bursts;
    // only a person presses Ctrl+C twice.
    if (!stopping || signo != SIGINT) {
      stopping = true;
      on_signal_(signo);
      continue;
    }
    static constexpr char kText[] = "quarnex-run: second stop signal, exiting at once\n";
    ssize_t ignored = write(STDERR_FILENO, kText, sizeof(kText) - 1);
    (void)ignored;
    ExitWhenNoResultIsWritten(128 + signo);
  }
}

}  // namespace quarnex
