// Ctrl+C, Ctrl+Break and the console's close for the Windows runner: the
// counterpart of stop_signals.cpp. Windows calls the console handler on a
// thread of its own; the handler only hands the request on, and the
// watcher thread acts on it as ordinary code. A second Ctrl+C ends the
// process at once once no record is being written; a second close event
// only cuts waits short, as SIGTERM does on Linux.
//
// When the console is closed (or the user logs off, or the system shuts
// down) the process ends as soon as the handler returns, so the handler
// waits there, within the few seconds Windows grants, until the run has
// stopped and written its stop record (the watcher is destroyed).
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "testapp/runner/stop_signals.h"
#include "testapp/station/result_writing.h"

namespace quarnex {

namespace {

// The signal number each console event stands for, as on Linux.
std::atomic<int> g_pending{0};
// The watcher that is alive, and whether it has seen the run end.
std::atomic<bool> g_watching{false};
std::atomic<bool> g_run_ended{false};
// Windows ends the process 5 s after a close event; the stop gets most of it.
constexpr DWORD kCloseGraceMs = 4500;
constexpr DWORD kWaitStepMs = 20;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_pending.store(SIGINT);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      g_pending.store(SIGTERM);
      for (DWORD waited = 0; g_watching.load() && !g_run_ended.load() && waited < kCloseGraceMs;
           waited += kWaitStepMs) {
        Sleep(kWaitStepMs);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

void BlockStopSignals() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

StopSignalWatcher::StopSignalWatcher(std::function<void(int)> on_signal)
    : on_signal_(std::move(on_signal)), thread_([this] { Watch(); }) {
  g_run_ended.store(false);
  g_watching.store(true);
}

StopSignalWatcher::~StopSignalWatcher() {
  quit_.store(true);
  thread_.join();
  g_run_ended.store(true);
  g_watching.store(false);
}

void StopSignalWatcher::Watch() {
  bool stopping = false;
  while (!quit_.load()) {
    const int signo = g_pending.exchange(0);
    if (signo == 0) {
      Sleep(kPollMs);
      continue;
    }
    if (!stopping || signo != SIGINT) {
      stopping = true;
      on_signal_(signo);
      continue;
    }
    std::fputs("quarnex-run: second stop signal, exiting at once\n", stderr);
    std::fflush(stderr);
    ExitWhenNoResultIsWritten(128 + signo);
  }
}

}  // namespace quarnex
