#include "testapp/engine/hold_up_watch.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "testapp/engine/verdict.h"
#include "testapp/platform/event.h"

namespace quarnex {

namespace {

// How often the watch thread wakes: well below kHeldUpMs, so a hold-up
// longer than that is noticed within one look, and rare enough to cost
// nothing.
constexpr int64_t kWatchLookMs = 25;

// The longest SettleHoldUps waits for the watch thread to look again.
constexpr int kSettleLooks = 40;
constexpr auto kSettleStep = std::chrono::milliseconds(5);

void WatchForHoldUps(RunState& run, EventRef exit_event) {
  for (;;) {
    const double due = MsClock() + static_cast<double>(kWatchLookMs);
    if (WaitAny({exit_event.get()}, kWatchLookMs) != kWaitTimeout) return;
    const double now = MsClock();
    NoteWake(run, due, now);
    run.HoldUpLookAt.store(now);
  }
}

}  // namespace

void RaiseTo(std::atomic<double>& field, double value) {
  double seen = field.load();
  while (value > seen && !field.compare_exchange_weak(seen, value)) {
  }
}

void NoteWake(RunState& run, double due_ms, double now_ms) {
  const double late = now_ms - due_ms;
  if (!(late > kHeldUpMs)) return;
  RaiseTo(run.HeldUpUntil, now_ms);
  RaiseTo(run.HeldUpMaxMs, late);
}

double WatchedMs(const RunState& run, double armed_ms, double now_ms) {
  return now_ms - std::max(armed_ms, run.HeldUpUntil.load());
}

void SettleHoldUps(const RunState& run) {
  const double asked = MsClock();
  // A hold-up longer than kHeldUpMs that has ended by now began before
  // `asked` - kHeldUpMs; a look since then came after it ended and noted it.
  if (run.HoldUpLookAt.load() == 0.0 || asked - run.HoldUpLookAt.load() < kHeldUpMs) return;
  for (int i = 0; i < kSettleLooks && run.HoldUpLookAt.load() < asked; ++i) {
    std::this_thread::sleep_for(kSettleStep);
  }
}

bool StartHoldUpWatch(RunState& run) {
  if (run.ExitEvent == nullptr || run.HoldUpWatcher.joinable()) return false;
  // std::thread reports a failed creation only by throwing.
  run.HoldUpLookAt.store(MsClock());
  try {
    run.HoldUpWatcher = std::thread(WatchForHoldUps, std::ref(run), run.ExitEvent);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void JoinHoldUpWatch(RunState& run) {
  if (!run.HoldUpWatcher.joinable()) return;
  if (run.ExitEvent) run.ExitEvent->Set();
  run.HoldUpWatcher.join();
}

}  // namespace quarnex
