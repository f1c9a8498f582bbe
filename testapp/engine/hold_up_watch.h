// The tester's own hold-ups: times when the process itself stood still
// (stopped by SIGSTOP or a debugger, starved on a loaded machine), which a
// line must not be blamed for.
//
// Any thread that sleeps with a deadline can tell: it wakes far past it.
// Such a wake-up is noted in the run (RunState HeldUpUntil, HeldUpMaxMs),
// and every outstanding transfer is then watched afresh from that moment
// (WatchedMs). A watch thread per run wakes every few tens of ms, so a
// hold-up is noticed even while every worker waits without a deadline.
#ifndef QUARNEX_ENGINE_HOLD_UP_WATCH_H_
#define QUARNEX_ENGINE_HOLD_UP_WATCH_H_

#include <atomic>

#include "testapp/engine/port_table.h"

namespace quarnex {

// A wait that wakes this much past its deadline was held up by the machine
// or the process itself, not by the line.
inline constexpr double kHeldUpMs = 100.0;

// Notes that a wait due at `due_ms` woke at `now_ms` (MsClock): when it
// woke more than kHeldUpMs late, the tester itself was held up, and `run`
// keeps the wake-up time and the longest lateness. Any thread.
void NoteWake(RunState& run, double due_ms, double now_ms);

// How long a transfer whose clock started at `armed_ms` has been watched
// at `now_ms`: from its start, or from the tester's last hold-up if that
// came later, since the line was not watched while the tester stood still.
double WatchedMs(const RunState& run, double armed_ms, double now_ms);

// Makes sure a hold-up that has just ended is noted before the caller
// judges a transfer by its watched time: a thread held up outside a wait
// (between two steps) cannot see it itself, and after the hold-up it may
// run before anything else noticed. Returns at once when the watch thread
// looked recently enough that no hold-up can be pending; otherwise waits
// (at most a few hundred ms) until it looked again. Any thread.
void SettleHoldUps(const RunState& run);

// Raises `field` to `value` when that is larger; any thread.
void RaiseTo(std::atomic<double>& field, double value);

// Starts the run's watch thread (RunState HoldUpWatcher), which notes its
// own late wake-ups until the run's ExitEvent is signalled. Called on the
// user-interface thread once the run started; false when no thread could
// be made (hold-ups are then noticed only by the workers' own waits).
bool StartHoldUpWatch(RunState& run);

// Ends and joins the watch thread, if any: signals the run's ExitEvent,
// so call it only once the run's workers were stopped and joined. The
// user-interface thread.
void JoinHoldUpWatch(RunState& run);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_HOLD_UP_WATCH_H_
